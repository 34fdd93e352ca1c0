// Annotations for Clang's thread-safety analysis (-Wthread-safety): which lock guards a member,
// which lock a function needs held or must not be holding, and which functions take or give back
// a lock. Other compilers see nothing; the analysis runs in every Clang build.
#pragma once

#if defined(__clang__)
#define QUOR_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QUOR_THREAD_ANNOTATION(x)
#endif

// A type whose objects are locks.
#define QUOR_CAPABILITY(name) QUOR_THREAD_ANNOTATION(capability(name))
// A type whose objects hold a lock from their construction to their destruction.
#define QUOR_SCOPED_CAPABILITY QUOR_THREAD_ANNOTATION(scoped_lockable)
// A member read and written only with the lock held.
#define QUOR_GUARDED_BY(lock) QUOR_THREAD_ANNOTATION(guarded_by(lock))
// A function the caller runs with the locks held.
#define QUOR_REQUIRES(...) QUOR_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// A function the caller must not run with the locks held (it takes them itself).
#define QUOR_EXCLUDES(...) QUOR_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// A function that returns with the locks held, or gives them back.
#define QUOR_ACQUIRE(...) QUOR_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define QUOR_RELEASE(...) QUOR_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// A function that tells the analysis the lock is held from here on, where it cannot see the
// acquisition (a body run as a lambda inside a function that requires the lock).
#define QUOR_ASSERT_CAPABILITY(lock) QUOR_THREAD_ANNOTATION(assert_capability(lock))
// A function left out of the analysis; each use says why.
#define QUOR_NO_THREAD_SAFETY_ANALYSIS QUOR_THREAD_ANNOTATION(no_thread_safety_analysis)
