#include "QuorAuthenticator.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "QuorInterrupt.h"
#include "QuorToolText.h"
#include "quormediafiles/QuorMediaFilesCpp.h"

QuorAuthenticationResult CQuorAuthenticator::Run() {
  QuorAuthenticationResult result;
  VARIANT_BOOL complete = VARIANT_FALSE;
  QuorCheck(m_reader->IsCompleteFileSet(&complete), "IsCompleteFileSet");
  result.complete = QuorIsTrue(complete);

  CQuorInterruptScope interruptScope;
  std::atomic<bool> done{false};
  std::thread poller([&] {
    bool cancelled = false;
    while (!done.load()) {
      if (CQuorInterruptScope::Interrupted() && !cancelled) {
        // (void): a walk that has just ended answers MFS_E_WRONG_STATE; nothing to undo then.
        (void)m_reader->CancelAuthentication();
        cancelled = true;
      }
      SHORT progress = 0;
      if (m_showProgress && SUCCEEDED(m_reader->GetAuthenticationProgress(&progress))) {
        QuorDrawProgress("authenticating", static_cast<unsigned>(progress < 0 ? 0 : progress));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });

  VARIANT_BOOL authentic = VARIANT_FALSE;
  const HRESULT hr = m_reader->IsAuthentic(&authentic);
  // Take the error information on this thread before anything else can replace it.
  const std::string description = FAILED(hr) ? QuorTakeErrorDescription() : std::string();
  done.store(true);
  poller.join();
  if (m_showProgress) {
    if (SUCCEEDED(hr)) QuorDrawProgress("authenticating", 100);
    QuorClearProgress();
  }
  if (FAILED(hr)) throw CQuorError(hr, "IsAuthentic", description);
  result.authentic = QuorIsTrue(authentic);
  result.files = QuorReportFiles(m_reader);
  return result;
}
