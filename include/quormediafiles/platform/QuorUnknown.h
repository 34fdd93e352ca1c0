// IUnknown: the root of every object interface. Reference counted; QueryInterface hands out
// another interface of the same object with one more reference.
#pragma once

#include "quormediafiles/platform/QuorTypes.h"

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  // Objects are destroyed by their last Release, never through an interface pointer.
  ~IUnknown() = default;
};
