// Small helpers for the object tests: creation by class identifier and strings in and out of the
// automation types (byte arrays go through the C++ layer's QuorByteArray and QuorBytes).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quormediafiles/QuorMediaFilesCpp.h"
#include "support/QuorGot.h"

inline CQuorBstr Bstr(std::u16string_view text) { return CQuorBstr::Copy(text); }
