// quor.hpp in a program that has its own Windows-like names: X11's <X11/Xmd.h> (BYTE, BOOL as
// an unsigned char) where it is installed, and typedefs of its own that differ from the ones of
// the object interfaces (BOOL, DWORD, ULONG, HRESULT as other types). That this file compiles is
// the test.
#if __has_include(<X11/Xmd.h>)
#include <X11/Xmd.h>
#endif
typedef unsigned char BOOL;
typedef unsigned long DWORD;
typedef unsigned long ULONG;
typedef long HRESULT;
typedef unsigned short WORD;
typedef char* BSTR;
#define S_OK 0

#include <gtest/gtest.h>

#include "quormediafiles/quor.hpp"

namespace {

TEST(QuorForeignTypesTest, QuorHppDeclaresNothingOutsideItsNamespace) {
  const BOOL yes = 1;
  const DWORD flags = static_cast<DWORD>(quor::SampleFlags::KeyFrame | quor::SampleFlags::Video);
  EXPECT_EQ(quor::words(static_cast<quor::SampleFlags>(flags)),
            (std::vector<std::string>{"key", "video"}));
  EXPECT_EQ(yes, 1);
  EXPECT_EQ(HRESULT{S_OK}, 0);
}

}  // namespace
