#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "objects/QuorObjectsTestHelpers.h"
#include "objects/QuorTypeLibrary.h"

namespace {

VARIANT Value(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}
VARIANT Ui4(ULONG x) {
  VARIANT v = Value(VT_UI4);
  v.ulVal = x;
  return v;
}
VARIANT I4(LONG x) {
  VARIANT v = Value(VT_I4);
  v.lVal = x;
  return v;
}
VARIANT I2(SHORT x) {
  VARIANT v = Value(VT_I2);
  v.iVal = x;
  return v;
}
VARIANT Bool(VARIANT_BOOL x) {
  VARIANT v = Value(VT_BOOL);
  v.boolVal = x;
  return v;
}
VARIANT Str(BSTR x) {
  VARIANT v = Value(VT_BSTR);
  v.bstrVal = x;
  return v;
}
VARIANT Array(VARTYPE element, SAFEARRAY* x) {
  VARIANT v = Value(VT_ARRAY | element);
  v.parray = x;
  return v;
}
VARIANT RefBool(VARIANT_BOOL* x) {
  VARIANT v = Value(VT_BYREF | VT_BOOL);
  v.pboolVal = x;
  return v;
}
VARIANT RefVariant(VARIANT* x) {
  VARIANT v = Value(VT_BYREF | VT_VARIANT);
  v.pvarVal = x;
  return v;
}

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

TEST_F(QuorTypeLibraryTest, DescribesTheLibraryOnce) {
  const CQuorTypeLibraryDesc& lib = QuorMediaFilesTypeLibrary();
  EXPECT_EQ(std::u16string(lib.name), u"QuorMediaFilesLib");
  EXPECT_EQ(std::u16string(lib.helpString), u"QuorMediaFiles 1.0 Type Library");
  EXPECT_EQ(lib.majorVersion, 1);
  EXPECT_EQ(lib.minorVersion, 0);
  ASSERT_EQ(lib.interfaces.size(), 7u);
  ASSERT_EQ(lib.coclasses.size(), 6u);
  for (const CQuorInterfaceDesc& i : lib.interfaces) {
    SCOPED_TRACE(QuorUtf16ToUtf8(i.name));
    EXPECT_EQ(std::u16string(i.helpString), std::u16string(i.name) + u" Interface");
    for (std::size_t n = 0; n < i.methods.size(); ++n) {
      const CQuorMethodDesc& m = i.methods[n];
      EXPECT_EQ(m.dispid, static_cast<DISPID>(n + 1));
      const std::u16string name(m.name);
      const bool sampleFlags = *i.iid == IID_IQuorMediaFileSample &&
                               (name == u"GetSampleFlags" || name == u"SetSampleFlags");
      if (sampleFlags) {
        EXPECT_EQ(m.helpString, nullptr) << QuorUtf16ToUtf8(name);
      } else {
        EXPECT_EQ(std::u16string(m.helpString), u"method " + name);
      }
    }
  }
  for (const CQuorCoclassDesc& c : lib.coclasses) {
    SCOPED_TRACE(QuorUtf16ToUtf8(c.name));
    EXPECT_EQ(std::u16string(c.helpString), std::u16string(c.name) + u" Class");
    EXPECT_NE(lib.FindInterface(*c.defaultInterface), nullptr);
  }
  ASSERT_EQ(lib.enums.size(), 1u);
  EXPECT_EQ(lib.enums[0].values.size(), 5u);
}

TEST_F(QuorTypeLibraryTest, TrackMetadataRoundTripsByName) {
  auto track = CreateObject<IQuorTrackMetadata>(CLSID_QuorTrackMetadata);
  CQuorBstr name = Bstr(u"front door");
  CQuorBstr filter = Bstr(u"{F1}");
  EXPECT_EQ(Call(track.Get(), u"SetTrackName", {Str(name.Get())}), S_OK);
  EXPECT_EQ(Call(track.Get(), u"settrackid", {I4(42)}), S_OK);  // names ignore case
  EXPECT_EQ(Call(track.Get(), u"SetVideoFlag", {Bool(1)}), S_OK);
  EXPECT_EQ(Call(track.Get(), u"AddFilter", {Str(filter.Get())}), S_OK);
  EXPECT_EQ(Call(track.Get(), u"AddFilter", {Str(filter.Get())}), S_OK);

  VARIANT result = Value(VT_EMPTY);
  ASSERT_EQ(Call(track.Get(), u"GetTrackName", {}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(CQuorBstr::Copy(result.bstrVal).View(), u"front door");
  EXPECT_EQ(VariantClear(&result), S_OK);
  ASSERT_EQ(Call(track.Get(), u"GetTrackId", {}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_UI4);
  EXPECT_EQ(result.ulVal, 42u);
  ASSERT_EQ(Call(track.Get(), u"GetVideoFlag", {}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_BOOL);
  EXPECT_EQ(result.boolVal, 1);
  ASSERT_EQ(Call(track.Get(), u"GetFilters", {}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_ARRAY | VT_BSTR);
  EXPECT_EQ(Strings(result.parray), (std::vector<std::u16string>{u"{F1}", u"{F1}"}));
  EXPECT_EQ(VariantClear(&result), S_OK);
}

TEST_F(QuorTypeLibraryTest, SampleRoundTripsByNameWithOutArguments) {
  auto sample = CreateObject<IQuorMediaFileSample>(CLSID_QuorMediaFileSample);
  CQuorSafeArray payload = ByteArray({4, 5, 6});
  EXPECT_EQ(Call(sample.Get(), u"SetPayloadData", {Array(VT_UI1, payload.Get())}), S_OK);
  EXPECT_EQ(Call(sample.Get(), u"SetFlags", {Bool(VARIANT_TRUE), I2(0), Bool(VARIANT_TRUE)}), S_OK);

  VARIANT_BOOL keyFrame = 7, video = 7;
  VARIANT audio = Value(VT_EMPTY);
  EXPECT_EQ(
      Call(sample.Get(), u"GetFlags", {RefBool(&keyFrame), RefBool(&video), RefVariant(&audio)}),
      S_OK);
  EXPECT_EQ(keyFrame, VARIANT_TRUE);
  EXPECT_EQ(video, VARIANT_FALSE);
  EXPECT_EQ(audio.vt, VT_BOOL);
  EXPECT_EQ(audio.boolVal, VARIANT_TRUE);

  ULONG flags = 0;
  VARIANT flagsRef = Value(VT_BYREF | VT_UI4);
  flagsRef.pulVal = &flags;
  EXPECT_EQ(Call(sample.Get(), u"GetSampleFlags", {flagsRef}), S_OK);
  EXPECT_EQ(flags, 0x05u);

  VARIANT result = Value(VT_EMPTY);
  ASSERT_EQ(Call(sample.Get(), u"GetPayloadData", {}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(Bytes(result.parray), (std::vector<BYTE>{4, 5, 6}));
  EXPECT_EQ(VariantClear(&result), S_OK);
}

TEST_F(QuorTypeLibraryTest, StatusAndFileSetMetadataRoundTripByName) {
  auto status = CreateObject<IQuorMediaFileStatus>(CLSID_QuorMediaFileStatus);
  EXPECT_EQ(Call(status.Get(), u"SetFileIndex", {I2(3)}), S_OK);
  VARIANT result = Value(VT_EMPTY);
  ASSERT_EQ(Call(status.Get(), u"GetFileIndex", {}, &result), S_OK);
  EXPECT_EQ(result.ulVal, 3u);

  auto metadata = CreateObject<IQuorFileSetMetadata>(CLSID_QuorFileSetMetadata);
  ASSERT_EQ(Call(metadata.Get(), u"IsFileSetComplete", {}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_BOOL);
  EXPECT_EQ(result.boolVal, VARIANT_FALSE);
  EXPECT_EQ(Call(metadata.Get(), u"GetFileSetCreationTime", {}, &result), DISP_E_EXCEPTION);
  EXPECT_EQ(m_excepInfo.scode, MFS_E_NO_VALUE);
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
      {"UnknownName", u"Frobnicate", {}, DISP_E_UNKNOWNNAME},
      {"TooFewArguments", u"SetTrackId", {}, DISP_E_BADPARAMCOUNT},
      {"RetvalPassedAsArgument", u"GetTrackId", {Ui4(1)}, DISP_E_BADPARAMCOUNT},
      {"StringForNumber", u"SetTrackId", {Str(text.Get())}, DISP_E_TYPEMISMATCH},
      {"NegativeForUnsigned", u"SetTrackId", {I4(-1)}, DISP_E_OVERFLOW},
      {"NumberForString", u"SetTrackName", {Ui4(1)}, DISP_E_TYPEMISMATCH},
      {"NullString", u"SetTrackName", {Str(nullptr)}, DISP_E_EXCEPTION},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Call(track.Get(), c.method, c.args), c.expected);
  }
  EXPECT_EQ(Call(track.Get(), u"SetPairId", {I4(-5)}), DISP_E_OVERFLOW);
  EXPECT_EQ(m_argErr, 0u);
  ULONG pairId = 0;
  EXPECT_EQ(track->GetPairId(&pairId), MFS_E_NO_VALUE);  // nothing was called
}

}  // namespace
