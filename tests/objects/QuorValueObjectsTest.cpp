#include <gtest/gtest.h>

#include "platform/com/QuorClassRegistry.h"
#include "quormediafiles/QuorMediaFilesInternal.h"
#include "support/QuorGot.h"

namespace {

const std::tuple<const char*, const CLSID*, const IID*> kValueObjects[] = {
    {"QuorFileSetMetadata", &CLSID_QuorFileSetMetadata, &IID_IQuorFileSetMetadata},
    {"QuorTrackMetadata", &CLSID_QuorTrackMetadata, &IID_IQuorTrackMetadata},
    {"QuorMediaFileSample", &CLSID_QuorMediaFileSample, &IID_IQuorMediaFileSample},
    {"QuorMediaFileStatus", &CLSID_QuorMediaFileStatus, &IID_IQuorMediaFileStatus},
};

class QuorValueObjectsTest : public ::testing::Test {
 protected:
  static IUnknown* Query(IUnknown* object, REFIID iid) {
    void* p = nullptr;
    EXPECT_EQ(object->QueryInterface(iid, &p), S_OK);
    auto* unknown = static_cast<IUnknown*>(p);
    if (unknown) unknown->Release();  // the object stays alive through `object`
    return unknown;
  }
};

TEST_F(QuorValueObjectsTest, InterfacesShareOneIdentityOthersAreRefusedAndTheLastReleaseFrees) {
  for (const auto& [name, clsid, main] : kValueObjects) {
    SCOPED_TRACE(name);
    const LONG before = CQuorClassRegistry::LockCount();
    CQuorComPtr<IUnknown> object = CreateObject<IUnknown>(*clsid);
    IUnknown* identity = Query(object.Get(), IID_IUnknown);
    for (const IID* iid : {main, &IID_IDispatch, &IID_ISupportErrorInfo}) {
      IUnknown* face = Query(object.Get(), *iid);
      ASSERT_NE(face, nullptr);
      EXPECT_EQ(Query(face, IID_IUnknown), identity);
    }
    EXPECT_EQ(Query(object.Get(), IID_IDispatch), Query(object.Get(), *main));
    for (const IID* iid : {&IID_IClassFactory, &IID_IQuorMediaFileWriter2, &IID_IErrorInfo,
                           &IID_IQuorFileSetMetadataInt}) {
      if (*iid == IID_IQuorFileSetMetadataInt && *clsid == CLSID_QuorFileSetMetadata) continue;
      void* p = &p;
      EXPECT_EQ(object->QueryInterface(*iid, &p), E_NOINTERFACE);
      EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    // Error information is supported for the main interface only.
    auto support = QueryAs<ISupportErrorInfo>(object);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(*main), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    support.Reset();
    EXPECT_EQ(CQuorClassRegistry::LockCount(), before + 1);
    EXPECT_EQ(object.Detach()->Release(), 0u);  // LeakSanitizer checks that this freed it
    EXPECT_EQ(CQuorClassRegistry::LockCount(), before);
  }
}

TEST_F(QuorValueObjectsTest, FileIndexIsUnsetAtAllOnesAndFlagsUntilStored) {
  auto status = CreateObject<IQuorMediaFileStatus>(CLSID_QuorMediaFileStatus);
  ULONG value = 5;
  EXPECT_EQ(status->GetFileIndex(nullptr), E_POINTER);
  EXPECT_EQ(status->GetFileIndex(&value), MFS_E_NOT_SET);
  EXPECT_EQ(status->GetStatusFlags(&value), MFS_E_NOT_SET);
  // All ones means no position.
  ASSERT_EQ(status->SetFileIndex(3), S_OK);
  ASSERT_EQ(status->SetFileIndex(0xFFFFFFFFu), S_OK);
  EXPECT_EQ(status->GetFileIndex(&value), MFS_E_NOT_SET);
}

}  // namespace
