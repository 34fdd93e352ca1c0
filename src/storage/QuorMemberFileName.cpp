#include "storage/QuorMemberFileName.h"

#include <new>

HRESULT QuorSplitFileName(std::u16string_view name, QuorFileNameParts* parts) {
  if (parts == nullptr) return E_POINTER;
  const std::size_t slash = name.rfind(u'/');
  const std::size_t filePart = slash == std::u16string_view::npos ? 0 : slash + 1;
  const std::size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos || dot < filePart) return E_INVALIDARG;
  try {
    parts->directory.assign(name.substr(0, filePart));
    parts->baseName.assign(name.substr(filePart, dot - filePart));
    parts->extension.assign(name.substr(dot));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT QuorMemberFileName(std::u16string_view name, DWORD k, std::u16string* member) {
  if (member == nullptr) return E_POINTER;
  QuorFileNameParts parts;
  const HRESULT hr = QuorSplitFileName(name, &parts);
  if (FAILED(hr)) return hr;
  if (parts.extension.size() < 2) return E_INVALIDARG;
  try {
    if (k == 0) {
      member->assign(name);
    } else {
      const std::string digits = std::to_string(k);
      *member = parts.directory + parts.baseName;
      member->append(digits.begin(), digits.end());
      *member += parts.extension;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}
