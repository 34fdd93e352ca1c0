#include "objects/QuorStringField.h"

#include <string_view>

HRESULT CQuorStringField::Get(BSTR* pbstr) const noexcept {
  if (!pbstr) return E_POINTER;
  *pbstr = nullptr;
  if (m_value.Length() == 0) return MFS_E_NO_VALUE;
  *pbstr = SysAllocStringLen(m_value.Get(), m_value.Length());
  return *pbstr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CQuorStringField::Set(BSTR bstr) noexcept {
  if (!bstr) return E_POINTER;
  if (bstr == m_value.Get()) return S_OK;
  std::u16string_view text(bstr, SysStringLen(bstr));
  text = text.substr(0, text.find(u'\0'));
  CQuorBstr copy = CQuorBstr::Copy(text);
  m_value = std::move(copy);
  return m_value ? S_OK : E_OUTOFMEMORY;
}
