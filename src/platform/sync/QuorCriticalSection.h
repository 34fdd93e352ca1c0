// A recursive lock with the critical-section operations (Enter/Leave/TryEnter) and the standard
// lockable names, so that std::scoped_lock and std::unique_lock take it. The thread that entered
// it may enter again; it must leave as often as it entered.
#pragma once

#include <mutex>

class CQuorCriticalSection {
 public:
  CQuorCriticalSection() = default;
  CQuorCriticalSection(const CQuorCriticalSection&) = delete;
  CQuorCriticalSection& operator=(const CQuorCriticalSection&) = delete;

  void Enter() { m_mutex.lock(); }
  void Leave() noexcept { m_mutex.unlock(); }
  [[nodiscard]] bool TryEnter() noexcept { return m_mutex.try_lock(); }

  void lock() { Enter(); }
  void unlock() noexcept { Leave(); }
  [[nodiscard]] bool try_lock() noexcept { return TryEnter(); }

 private:
  std::recursive_mutex m_mutex;
};
