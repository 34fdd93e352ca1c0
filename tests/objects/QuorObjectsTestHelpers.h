// Small helpers for the object tests: creation by class identifier and strings in and out of the
// automation types (byte arrays go through the C++ layer's QuorByteArray and QuorBytes).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quormediafiles/QuorMediaFilesCpp.h"

template <class T>
CQuorComPtr<T> CreateObject(REFCLSID clsid) {
  CQuorComPtr<T> object;
  EXPECT_EQ(CoCreateInstance(clsid, &object), S_OK);
  return object;
}

inline CQuorBstr Bstr(std::u16string_view text) { return CQuorBstr::Copy(text); }
