// A thread of the process, started at CreateThread either running or suspended (then it runs
// its start routine only after ResumeThread). The object is signaled once the routine has
// returned, so WaitForSingleObject on it waits for the end of the thread.
//
// The object owns the thread: destroying it joins a thread that has run, and makes a thread
// that was never resumed end without running its routine. Any thread but the owned one may call
// ResumeThread, wait on it and destroy it.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/sync/QuorWaitableObject.h"

using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);

class CQuorThread : public CQuorWaitableObject {
 public:
  CQuorThread() noexcept : CQuorWaitableObject(true, false) {}
  ~CQuorThread() override;

  // Starts the thread; once per object. Failure: the code the system reports, or
  // E_UNEXPECTED for a second call.
  [[nodiscard]] HRESULT CreateThread(LPTHREAD_START_ROUTINE start, void* parameter, bool suspended);
  // Lets a suspended thread run; no effect on a running or ended one.
  [[nodiscard]] HRESULT ResumeThread();
  // The routine's return value once the thread has ended; MFS_E_WRONG_STATE before.
  [[nodiscard]] HRESULT GetExitCodeThread(DWORD* exitCode);

 private:
  void Run(LPTHREAD_START_ROUTINE start, void* parameter);

  std::thread m_thread;
  std::mutex m_startMutex;
  std::condition_variable m_startSignal;
  bool m_resumed = false;
  bool m_abandoned = false;
  bool m_ended = false;
  DWORD m_exitCode = 0;
};
