// IQuorMediaFileSampleAccess: the library's own way into a sample object (QuorMediaFileSample)
// without a SAFEARRAY round trip. The writer looks at the payload bytes of every sample it
// queues; the reader hands a freshly read payload array over without a copy. Reached by
// QueryInterface; a sample implemented by a caller does not have it (use GetPayloadData then).
#pragma once

#include "quormediafiles/QuorMediaFiles.h"

// {1DB4E675-41A0-40A7-AEE8-EDE0B36C5BE4}
inline constexpr GUID IID_IQuorMediaFileSampleAccess = {
    0x1DB4E675, 0x41A0, 0x40A7, {0xAE, 0xE8, 0xED, 0xE0, 0xB3, 0x6C, 0x5B, 0xE4}};

struct IQuorMediaFileSampleAccess : IUnknown {
  // The stored payload, borrowed: valid until the next SetPayloadData or TakePayload on the
  // sample, or its last Release. MFS_E_NO_VALUE when no payload was set; E_FAIL when it was
  // set but no array is held (a failed copy); E_POINTER for null out-pointers.
  virtual HRESULT GetPayloadView(const BYTE** ppData, ULONG* pcbData) = 0;
  // Takes ownership of psaData (a one-dimensional VT_UI1 array) as the payload, freeing the
  // stored one. E_POINTER for null, E_INVALIDARG for another element type; on failure the
  // caller keeps the array.
  virtual HRESULT TakePayload(SAFEARRAY* psaData) = 0;

 protected:
  ~IQuorMediaFileSampleAccess() = default;
};

QUOR_DECLARE_INTERFACE_IID(IQuorMediaFileSampleAccess, IID_IQuorMediaFileSampleAccess);
