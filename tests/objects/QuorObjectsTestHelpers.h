// Small helpers for the object tests: creation by class identifier, strings and arrays in and
// out of the automation types.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "quormediafiles/QuorMediaFiles.h"

template <class T>
CQuorComPtr<T> CreateObject(REFCLSID clsid) {
  CQuorComPtr<T> object;
  EXPECT_EQ(CoCreateInstance(clsid, &object), S_OK);
  return object;
}

inline CQuorBstr Bstr(std::u16string_view text) { return CQuorBstr::Copy(text); }

inline CQuorSafeArray ByteArray(const std::vector<BYTE>& bytes) {
  CQuorSafeArray array = CQuorSafeArray::CreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!bytes.empty()) std::memcpy(array.Get()->pvData, bytes.data(), bytes.size());
  return array;
}

inline std::vector<BYTE> Bytes(SAFEARRAY* psa) {
  const BYTE* data = static_cast<const BYTE*>(psa->pvData);
  return std::vector<BYTE>(data, data + psa->rgsabound[0].cElements);
}

inline std::vector<std::u16string> Strings(SAFEARRAY* psa) {
  std::vector<std::u16string> strings;
  for (LONG i = 0; i < static_cast<LONG>(psa->rgsabound[0].cElements); ++i) {
    CQuorBstr element;
    EXPECT_EQ(SafeArrayGetElement(psa, &i, element.AddressOf()), S_OK);
    strings.emplace_back(element.View());
  }
  return strings;
}
