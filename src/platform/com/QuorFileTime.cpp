#include "platform/com/QuorFileTime.h"

HRESULT CoFileTimeNow(LONGLONG* fileTime) noexcept {
  if (fileTime == nullptr) {
    return E_POINTER;
  }
  *fileTime = std::chrono::duration_cast<QuorFileTimeUnits>(
                  std::chrono::system_clock::now().time_since_epoch())
                  .count() +
              kFileTimeUnixEpoch;
  return S_OK;
}
