#include "QuorAuthenticator.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "QuorInterrupt.h"
#include "QuorToolText.h"
#include "quormediafiles/QuorMediaFilesCpp.h"

namespace {

// Runs walk while a second thread calls tick(interrupted) every 50 ms; interrupted turns true
// once Ctrl-C arrived. tick returns the percentage to draw (when the bar is shown).
template <class Walk>
HRESULT WithProgress(bool showProgress, const std::function<unsigned(bool)>& tick, Walk&& walk) {
  std::atomic<bool> done{false};
  std::thread poller([&] {
    while (!done.load()) {
      const unsigned percent = tick(CQuorInterruptScope::Interrupted());
      if (showProgress) QuorDrawProgress("authenticating", percent);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  const HRESULT hr = walk();
  done.store(true);
  poller.join();
  if (showProgress) {
    if (SUCCEEDED(hr)) QuorDrawProgress("authenticating", 100);
    QuorClearProgress();
  }
  return hr;
}

}  // namespace

QuorAuthenticationResult CQuorAuthenticator::Run(const CQuorSealKey* key) {
  QuorAuthenticationResult result;
  VARIANT_BOOL complete = VARIANT_FALSE;
  QuorCheck(m_reader->IsCompleteFileSet(&complete), "IsCompleteFileSet");
  result.complete = QuorIsTrue(complete);
  CQuorInterruptScope interruptScope;

  if (key == nullptr) {
    bool cancelled = false;
    VARIANT_BOOL authentic = VARIANT_FALSE;
    std::string description;
    const HRESULT hr = WithProgress(
        m_showProgress,
        [&](bool interrupted) -> unsigned {
          if (interrupted && !cancelled) {
            // (void): a walk that has just ended answers MFS_E_WRONG_STATE; nothing to undo.
            (void)m_reader->CancelAuthentication();
            cancelled = true;
          }
          SHORT progress = 0;
          if (!m_showProgress || FAILED(m_reader->GetAuthenticationProgress(&progress))) return 0;
          return static_cast<unsigned>(progress < 0 ? 0 : progress);
        },
        [&] {
          const HRESULT walked = m_reader->IsAuthentic(&authentic);
          // Take the error information on this thread before anything else can replace it.
          if (FAILED(walked)) description = QuorTakeErrorDescription();
          return walked;
        });
    if (FAILED(hr)) throw CQuorError(hr, "IsAuthentic", description);
    result.authentic = QuorIsTrue(authentic);
    result.files = QuorReportFiles(m_reader);
    return result;
  }

  result.files = QuorReportFiles(m_reader);
  std::vector<QuorMemberCheck> checks(result.files.size());
  ULONGLONG total = 0;
  for (std::size_t i = 0; i < checks.size(); ++i) {
    checks[i].path = result.files[i].name;
    checks[i].chainPosition = result.files[i].filesetIndex;
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(checks[i].path, error);
    if (!error) total += size;
  }
  std::atomic<bool> cancel{false};
  std::atomic<ULONGLONG> bytesDone{0};
  const HRESULT hr = WithProgress(
      m_showProgress,
      [&](bool interrupted) -> unsigned {
        if (interrupted) cancel = true;
        return total == 0 ? 0 : static_cast<unsigned>(bytesDone.load() * 100 / total);
      },
      [&] { return QuorCheckMemberFiles(&checks, key, true, &cancel, &bytesDone); });
  if (FAILED(hr)) throw CQuorError(hr, "QuorCheckMemberFiles", "cannot check the member files");
  result.authentic = result.complete;
  for (std::size_t i = 0; i < checks.size(); ++i) {
    ULONG& flags = result.files[i].flags;
    if (checks[i].tested) {
      constexpr auto kTested = static_cast<ULONG>(quor::FileStatus::Tested);
      constexpr auto kAuthentic = static_cast<ULONG>(quor::FileStatus::Authentic);
      flags = (flags | kTested) & ~kAuthentic;
      if (checks[i].authentic) flags |= kAuthentic;
      result.authentic = result.authentic && checks[i].authentic;
    }
    result.seals.push_back(std::move(checks[i].seal));
  }
  return result;
}
