#include "platform/sync/QuorThread.h"

#include <system_error>

#include "quormediafiles/QuorResultCodes.h"

CQuorThread::~CQuorThread() {
  if (!m_thread.joinable()) {
    return;
  }
  {
    std::scoped_lock lock(m_startMutex);
    if (!m_resumed) {
      m_abandoned = true;
      m_resumed = true;
    }
  }
  m_startSignal.notify_one();
  m_thread.join();
}

HRESULT CQuorThread::CreateThread(LPTHREAD_START_ROUTINE start, void* parameter, bool suspended) {
  if (start == nullptr) {
    return E_POINTER;
  }
  if (m_thread.joinable()) {
    return E_UNEXPECTED;
  }
  m_resumed = !suspended;
  try {
    m_thread = std::thread(&CQuorThread::Run, this, start, parameter);
  } catch (const std::system_error& e) {
    return HRESULT_FROM_WIN32(e.code().value() == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY
                                                         : ERROR_INVALID_PARAMETER);
  }
  return S_OK;
}

HRESULT CQuorThread::ResumeThread() {
  if (!m_thread.joinable()) {
    return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
  }
  {
    std::scoped_lock lock(m_startMutex);
    m_resumed = true;
  }
  m_startSignal.notify_one();
  return S_OK;
}

HRESULT CQuorThread::GetExitCodeThread(DWORD* exitCode) {
  if (exitCode == nullptr) {
    return E_POINTER;
  }
  std::scoped_lock lock(m_startMutex);
  if (!m_ended) {
    return MFS_E_WRONG_STATE;
  }
  *exitCode = m_exitCode;
  return S_OK;
}

void CQuorThread::Run(LPTHREAD_START_ROUTINE start, void* parameter) {
  bool abandoned = false;
  {
    std::unique_lock lock(m_startMutex);
    m_startSignal.wait(lock, [this] { return m_resumed; });
    abandoned = m_abandoned;
  }
  DWORD exitCode = 0;
  if (!abandoned) {
    // A routine that throws must not take the process down with it.
    try {
      exitCode = start(parameter);
    } catch (...) {
      exitCode = static_cast<DWORD>(E_UNEXPECTED);
    }
  }
  {
    std::scoped_lock lock(m_startMutex);
    m_exitCode = exitCode;
    m_ended = true;
  }
  Signal();
}
