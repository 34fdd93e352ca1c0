#include <gtest/gtest.h>

#include "platform/automation/QuorTypeDispatcher.h"
#include "platform/com/QuorClassRegistry.h"
#include "platform/com/QuorUnknownImpl.h"
#include "quormediafiles/platform/QuorDispatch.h"

// A class of this test program only, registered the way the library's subsystems do it.
// {6D1A8C2E-3F47-4B5A-9E21-0C7B5D4A3F10}
inline constexpr IID IID_ICounterTest = {
    0x6D1A8C2E, 0x3F47, 0x4B5A, {0x9E, 0x21, 0x0C, 0x7B, 0x5D, 0x4A, 0x3F, 0x10}};
inline constexpr CLSID CLSID_CounterTest = {
    0x6D1A8C2E, 0x3F47, 0x4B5A, {0x9E, 0x21, 0x0C, 0x7B, 0x5D, 0x4A, 0x3F, 0x11}};
struct ICounterTest : IUnknown {
  virtual ULONG Next() = 0;

 protected:
  ~ICounterTest() = default;
};
QUOR_DECLARE_INTERFACE_IID(ICounterTest, IID_ICounterTest);

class CCounterTest final : public CQuorUnknownImpl<ICounterTest> {
 public:
  ULONG Next() override { return ++m_value; }

 private:
  ULONG m_value = 0;
};
QUOR_OBJECT_ENTRY_AUTO(CLSID_CounterTest, CCounterTest, u"CounterTest")

namespace {

TEST(QuorComRuntimeTest, CreatesRegisteredClassesThroughTheirCachedClassObject) {
  const LONG before = CQuorClassRegistry::LockCount();
  CQuorComPtr<ICounterTest> a, b;
  ASSERT_EQ(CoCreateInstance(CLSID_CounterTest, &a), S_OK);
  ASSERT_EQ(CoCreateInstance(CLSID_CounterTest, &b), S_OK);
  EXPECT_NE(a.Get(), b.Get());
  EXPECT_EQ(a->Next(), 1u);
  EXPECT_EQ(b->Next(), 1u);
  EXPECT_EQ(CQuorClassRegistry::LockCount(), before + 2);

  CQuorComPtr<IClassFactory> first, second;
  for (CQuorComPtr<IClassFactory>* factory : {&first, &second}) {
    ASSERT_EQ(CoGetClassObject(CLSID_CounterTest, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(factory->AddressOf())),
              S_OK);
  }
  EXPECT_EQ(first.Get(), second.Get());
  // Each reference to the class object holds the module, as each server lock does.
  EXPECT_EQ(CQuorClassRegistry::LockCount(), before + 4);
  EXPECT_EQ(first->LockServer(1), S_OK);
  EXPECT_EQ(CQuorClassRegistry::LockCount(), before + 5);
  EXPECT_EQ(first->LockServer(0), S_OK);

  void* p = &p;
  EXPECT_EQ(first->CreateInstance(a.Get(), IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(first->CreateInstance(nullptr, IID_IDispatch, &p), E_NOINTERFACE);
  EXPECT_EQ(CoCreateInstance(CLSID_CounterTest, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &p),
            CLASS_E_CLASSNOTAVAILABLE);
  a.Reset();
  b.Reset();
  second.Reset();
  EXPECT_EQ(CQuorClassRegistry::LockCount(), before + 1);
  first.Reset();  // the table's own reference keeps the class object, but not the module
  EXPECT_EQ(CQuorClassRegistry::LockCount(), before);
}

// A VARIANT of type vt holding value in its largest integer member (the smaller members are its
// low bytes) or the pointer p.
VARIANT Var(VARTYPE vt, LONGLONG value = 0, void* p = nullptr) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  v.llVal = value;
  if (p) v.byref = p;
  return v;
}

TEST(QuorComRuntimeTest, IntegerArgumentsConvertWhenTheValueFits) {
  // Name, the argument's type and value, the type asked for, the result, the bits read.
  const std::tuple<const char*, VARTYPE, LONGLONG, VARTYPE, HRESULT, ULONGLONG> kCases[] = {
      {"I4ToUI4", VT_I4, 7, VT_UI4, S_OK, 7},
      {"NegativeI4ToUI4", VT_I4, -1, VT_UI4, DISP_E_OVERFLOW, 0},
      {"LargeUI8ToUI4", VT_UI8, 0x100000000LL, VT_UI4, DISP_E_OVERFLOW, 0},
      {"I2ToUI8", VT_I2, 300, VT_UI8, S_OK, 300},
      {"NegativeI8ToI2", VT_I8, -32768, VT_I2, S_OK, static_cast<ULONGLONG>(-32768LL)},
      {"TooNegativeI4ToI2", VT_I4, -32769, VT_I2, DISP_E_OVERFLOW, 0},
      {"BoolOneStaysOne", VT_BOOL, 1, VT_BOOL, S_OK, 1},
      {"IntegerToBoolIsTrue", VT_I4, 5, VT_BOOL, S_OK, static_cast<ULONGLONG>(-1LL)},
      {"BoolToUI4", VT_BOOL, -1, VT_UI4, DISP_E_OVERFLOW, 0},
      {"StringToUI4", VT_BSTR, 0, VT_UI4, DISP_E_TYPEMISMATCH, 0},
  };
  for (const auto& [name, from, value, to, hr, expected] : kCases) {
    SCOPED_TRACE(name);
    VARIANT v = Var(from, value);
    VARIANT outer = Var(VT_BYREF | VT_VARIANT, 0, &v);
    for (VARIANT* given : {&v, &outer}) {
      ULONGLONG bits = 99;
      EXPECT_EQ(CQuorTypeDispatcher::ReadInteger(given, to, &bits), hr);
      if (hr == S_OK) {
        EXPECT_EQ(bits, expected);
      }
    }
  }
}

}  // namespace
