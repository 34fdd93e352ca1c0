#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "objects/QuorObjectsTestHelpers.h"
#include "objects/QuorTypeLibrary.h"

namespace {

// A value of type vt: integers and truth values in the low bytes of the union, pointers
// (strings, arrays, by-reference forms) in its pointer member.
VARIANT Var(VARTYPE vt, ULONGLONG bits = 0) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  v.ullVal = bits;
  return v;
}
VARIANT Ptr(VARTYPE vt, void* p) {
  VARIANT v = Var(vt);
  v.byref = p;
  return v;
}
VARIANT I4(LONG x) { return Var(VT_I4, static_cast<ULONG>(x)); }

// Late binding as a script host does it: the id by name, then Invoke with the arguments
// (given first-to-last; they are borrowed) and the result in *result (owned by the caller).
class QuorTypeLibraryTest : public ::testing::Test {
 protected:
  HRESULT Call(IUnknown* object, const char16_t* name, std::vector<VARIANT> args,
               VARIANT* result = nullptr) {
    CQuorComPtr<IDispatch> dispatch;
    EXPECT_EQ(CQuorComPtr<IUnknown>(object).As(&dispatch), S_OK);
    std::u16string text(name);
    LPOLESTR names[] = {text.data()};
    DISPID id = 0;
    const HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    m_excepInfo = EXCEPINFO{};
    m_argErr = 99;
    const HRESULT invoked = dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result,
                                             &m_excepInfo, &m_argErr);
    SysFreeString(m_excepInfo.bstrSource);
    SysFreeString(m_excepInfo.bstrDescription);
    return invoked;
  }

  EXCEPINFO m_excepInfo{};
  UINT m_argErr = 0;
};

TEST_F(QuorTypeLibraryTest, DescribesEveryInterfaceWithDispidsFromOne) {
  const CQuorTypeLibraryDesc& lib = QuorMediaFilesTypeLibrary();
  ASSERT_EQ(lib.interfaces.size(), 7u);
  ASSERT_EQ(lib.coclasses.size(), 6u);
  for (const CQuorInterfaceDesc& i : lib.interfaces) {
    SCOPED_TRACE(QuorUtf16ToUtf8(i.name));
    for (std::size_t n = 0; n < i.methods.size(); ++n) {
      EXPECT_EQ(i.methods[n].dispid, static_cast<DISPID>(n + 1));
    }
  }
  for (const CQuorCoclassDesc& c : lib.coclasses) {
    EXPECT_NE(lib.FindInterface(*c.defaultInterface), nullptr) << QuorUtf16ToUtf8(c.name);
  }
}

TEST_F(QuorTypeLibraryTest, SampleRoundTripsByNameWithOutArguments) {
  auto sample = CreateObject<IQuorMediaFileSample>(CLSID_QuorMediaFileSample);
  CQuorSafeArray payload = ByteArray({4, 5, 6});
  EXPECT_EQ(Call(sample.Get(), u"SetPayloadData", {Ptr(VT_ARRAY | VT_UI1, payload.Get())}), S_OK);
  const VARIANT yes = Var(VT_BOOL, 0xFFFF);
  EXPECT_EQ(Call(sample.Get(), u"SetFlags", {yes, Var(VT_I2, 0), yes}), S_OK);

  VARIANT_BOOL keyFrame = 7, video = 7;
  VARIANT audio = Var(VT_EMPTY);
  EXPECT_EQ(Call(sample.Get(), u"GetFlags",
                 {Ptr(VT_BYREF | VT_BOOL, &keyFrame), Ptr(VT_BYREF | VT_BOOL, &video),
                  Ptr(VT_BYREF | VT_VARIANT, &audio)}),
            S_OK);
  EXPECT_EQ(keyFrame, VARIANT_TRUE);
  EXPECT_EQ(video, VARIANT_FALSE);
  EXPECT_EQ(audio.vt, VT_BOOL);
  EXPECT_EQ(audio.boolVal, VARIANT_TRUE);

  ULONG flags = 0;
  EXPECT_EQ(Call(sample.Get(), u"GetSampleFlags", {Ptr(VT_BYREF | VT_UI4, &flags)}), S_OK);
  EXPECT_EQ(flags, 0x05u);

  VARIANT result = Var(VT_EMPTY);
  ASSERT_EQ(Call(sample.Get(), u"GetPayloadData", {}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(Bytes(result.parray), (std::vector<BYTE>{4, 5, 6}));
  EXPECT_EQ(VariantClear(&result), S_OK);
}

TEST_F(QuorTypeLibraryTest, InvokeRefusesCallsThatDoNotFitTheDescription) {
  auto track = CreateObject<IQuorTrackMetadata>(CLSID_QuorTrackMetadata);
  CQuorBstr text = Bstr(u"x");
  struct Case {
    const char* name;
    const char16_t* method;
    std::vector<VARIANT> args;
    HRESULT expected;
  };
  const Case kCases[] = {
      {"NamesIgnoreCase", u"settrackid", {I4(42)}, S_OK},
      {"UnknownName", u"Frobnicate", {}, DISP_E_UNKNOWNNAME},
      {"TooFewArguments", u"SetTrackId", {}, DISP_E_BADPARAMCOUNT},
      {"RetvalPassedAsArgument", u"GetTrackId", {Var(VT_UI4, 1)}, DISP_E_BADPARAMCOUNT},
      {"StringForNumber", u"SetTrackId", {Ptr(VT_BSTR, text.Get())}, DISP_E_TYPEMISMATCH},
      {"NegativeForUnsigned", u"SetTrackId", {I4(-1)}, DISP_E_OVERFLOW},
      {"NumberForString", u"SetTrackName", {Var(VT_UI4, 1)}, DISP_E_TYPEMISMATCH},
      {"NullString", u"SetTrackName", {Ptr(VT_BSTR, nullptr)}, DISP_E_EXCEPTION},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Call(track.Get(), c.method, c.args), c.expected);
  }
  EXPECT_EQ(Call(track.Get(), u"SetPairId", {I4(-5)}), DISP_E_OVERFLOW);
  EXPECT_EQ(m_argErr, 0u);
  ULONG value = 0;
  EXPECT_EQ(track->GetPairId(&value), MFS_E_NO_VALUE);  // nothing was called
  ASSERT_EQ(track->GetTrackId(&value), S_OK);           // only the lower-case call reached it
  EXPECT_EQ(value, 42u);
}

}  // namespace
