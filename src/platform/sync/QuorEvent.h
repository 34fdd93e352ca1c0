// An event object: manual-reset (stays signaled until ResetEvent) or auto-reset (released by
// the one wait that it satisfies), created signaled or not. Any thread may set, reset or wait.
#pragma once

#include "platform/sync/QuorWaitableObject.h"

class CQuorEvent : public CQuorWaitableObject {
 public:
  CQuorEvent(bool manualReset, bool initialState) noexcept
      : CQuorWaitableObject(manualReset, initialState) {}

  void SetEvent() { Signal(); }
  void ResetEvent() { Unsignal(); }
};
