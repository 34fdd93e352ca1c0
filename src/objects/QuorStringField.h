// CQuorStringField: one string field of a value object. It owns its BSTR; a field counts as set
// while its string is non-empty. Get hands out a new copy; Set stores a copy taken up to the
// first zero character. No lock: the owning object is used by one thread at a time.
#pragma once

#include "quormediafiles/QuorResultCodes.h"
#include "quormediafiles/platform/QuorOleAuto.h"

class CQuorStringField {
 public:
  // E_POINTER for a null out-pointer; MFS_E_NO_VALUE while null or empty; E_OUTOFMEMORY.
  [[nodiscard]] HRESULT Get(BSTR* pbstr) const noexcept;
  // E_POINTER for a null string (refused, not taken as empty); S_OK without change when bstr is
  // the stored string itself; E_OUTOFMEMORY leaves the field null.
  [[nodiscard]] HRESULT Set(BSTR bstr) noexcept;
  // The stored string, borrowed (may be null).
  BSTR Peek() const noexcept { return m_value.Get(); }

 private:
  CQuorBstr m_value;
};
