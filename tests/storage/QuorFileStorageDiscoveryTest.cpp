#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "format/QuorFileInfoBlock.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "storage/QuorFileStorage.h"
#include "support/QuorGot.h"
#include "support/QuorTempDir.h"

namespace {

constexpr GUID kSetA = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kSetB = {0x44444444, 0x5555, 0x6666, {8, 7, 6, 5, 4, 3, 2, 1}};

class QuorFileStorageDiscoveryTest : public ::testing::Test {
 protected:
  // A member file: signature and a file info block carrying guid (none when null).
  void WriteMember(const std::string& name, const GUID& guid) {
    CQuorFileStorage storage;
    ASSERT_EQ(storage.InitializeForWriting(m_dir.WidePath(name).c_str(), 64, true), S_OK);
    CQuorFileInfoBlock block;
    if (guid != GUID_NULL) {
      ASSERT_EQ(block.SetFileSetGuid(guid), S_OK);
    }
    ASSERT_EQ(block.SetBlockIndex(0), S_OK);
    ASSERT_EQ(block.Write(storage.GetWriter()), S_OK);
    Got(&storage, &CQuorFileStorage::Finalize);
  }

  // The names the storage found, relative to the directory; each one's index is its place.
  std::vector<std::string> Found() {
    CQuorSafeArray names;
    EXPECT_EQ(m_storage.GetFileNames(names.AddressOf()), S_OK);
    std::vector<std::string> found = QuorStringVector(names.Get());
    for (DWORD i = 0; i < found.size(); ++i) {
      EXPECT_EQ(Index(QuorUtf8ToUtf16(found[i]).c_str()), i);
      found[i].erase(0, m_dir.Path("").size());
    }
    return found;
  }
  DWORD Index(const char16_t* name) {
    return Got(&m_storage, &CQuorFileStorage::GetFileIndex, name);
  }
  HRESULT Open(const std::string& name) {
    return m_storage.InitializeForReading(m_dir.WidePath(name).c_str());
  }

  CQuorTempDir m_dir;
  CQuorFileStorage m_storage;
};

TEST_F(QuorFileStorageDiscoveryTest, AnyMemberFindsTheWholeFilesetAndNoOtherSet) {
  for (const char* name : {"cam.vid", "cam1.vid", "cam2.vid", "cam.bin"}) WriteMember(name, kSetA);
  WriteMember("other.vid", kSetB);
  WriteMember("single.vid", GUID_NULL);  // a file without fileset GUID stands alone
  WriteMember("single1.vid", GUID_NULL);
  const std::pair<const char*, std::vector<std::string>> kCases[] = {
      {"single1.vid", {"single1.vid"}},
      {"cam.vid", {"cam.vid", "cam1.vid", "cam2.vid"}},
      {"cam1.vid", {"cam1.vid", "cam.vid", "cam2.vid"}},
      {"cam2.vid", {"cam2.vid", "cam.vid", "cam1.vid"}},
      {"other.vid", {"other.vid"}},
  };
  for (const auto& [name, expected] : kCases) {
    SCOPED_TRACE(name);
    ASSERT_EQ(Open(name), S_OK);
    EXPECT_EQ(m_storage.GetMode(), smReading);
    EXPECT_EQ(Found(), expected);
    // Every file is positioned independently and reads its own signature.
    for (DWORD i = 0; i < expected.size(); ++i) {
      BYTE signature[16] = {};
      ASSERT_EQ(m_storage.Seek(i, 0, soBegin), S_OK);
      ASSERT_EQ(m_storage.Read(signature, 16), S_OK);
      EXPECT_EQ(signature[0], 0x98);
    }
  }
  DWORD index = 0;
  EXPECT_EQ(m_storage.GetFileIndex(m_dir.WidePath("cam.vid").c_str(), &index), E_INVALIDARG);
}

// The scan takes matches in byte order: cam.vid, cam1.vid, cam15.vid, cam2.vid.
TEST_F(QuorFileStorageDiscoveryTest, AStrangerInTheScanEndsItUnlessItComesFirst) {
  for (const char* name : {"cam.vid", "cam1.vid", "cam2.vid"}) WriteMember(name, kSetA);
  // A stranger named aaa.vid sorts before the members, one named cam15.vid after cam1.vid.
  enum Kind { kJunk, kDirectory, kFifo, kShort };
  const std::tuple<const char*, Kind, bool> kCases[] = {{"JunkFirst", kJunk, true},
                                                        {"DirectoryFirst", kDirectory, true},
                                                        {"FifoFirst", kFifo, true},
                                                        {"JunkLater", kJunk, false},
                                                        {"DirectoryLater", kDirectory, false},
                                                        {"ShortLater", kShort, false}};
  for (const auto& [name, kind, first] : kCases) {
    SCOPED_TRACE(name);
    const std::string stranger = first ? "aaa.vid" : "cam15.vid";
    if (kind == kJunk || kind == kShort) {
      m_dir.WriteBytes(stranger, kind == kJunk ? PatternBytes(64) : Bytes{1});
    }
    if (kind == kDirectory) m_dir.MakeDirectory(stranger);
    if (kind == kFifo) {
      ASSERT_EQ(::mkfifo(m_dir.Path(stranger).c_str(), 0600), 0);
    }
    ASSERT_EQ(Open("cam.vid"), S_OK);
    std::vector<std::string> expected = {"cam.vid", "cam1.vid", "cam2.vid"};
    if (!first) expected.pop_back();  // the scan ends at the stranger
    EXPECT_EQ(Found(), expected);
    m_dir.Remove(stranger);
  }
}

TEST_F(QuorFileStorageDiscoveryTest, TheNamedFileMustBeAReadableMemberFile) {
  WriteMember("cam.vid", kSetA);
  m_dir.WriteBytes("tiny.vid", PatternBytes(15));
  m_dir.WriteBytes("junk.vid", PatternBytes(64));
  m_dir.WriteBytes("noext", PatternBytes(64));
  m_dir.WriteBytes("head.vid", {0x98, 0x40, 0x53, 0xCC, 0x38, 0x46, 0xD2, 0x41, 0x89, 0xA3, 0x03,
                                0xC7, 0x9B, 0xBC, 0x62, 0x2F, 0x00, 0x06});
  const std::pair<const char*, HRESULT> kCases[] = {
      {"missing.vid", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
      {"tiny.vid", HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)},
      {"junk.vid", MFS_E_BAD_FORMAT},
      {"head.vid", HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)},     // signature, then a cut-off block
      {"fifo.vid", HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)},  // refused, not waited on
  };
  ASSERT_EQ(::mkfifo(m_dir.Path("fifo.vid").c_str(), 0600), 0);
  for (const auto& [name, hr] : kCases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Open(name), hr);
  }
  EXPECT_EQ(m_storage.InitializeForReading(nullptr), E_POINTER);
  // The signature of a file without extension is fine; its missing extension is not.
  CQuorFileStorage writer;
  ASSERT_EQ(writer.InitializeForWriting(m_dir.WidePath("noext").c_str(), 1, true), S_OK);
  Got(&writer, &CQuorFileStorage::Finalize);
  EXPECT_EQ(Open("noext"), E_INVALIDARG);
}

TEST_F(QuorFileStorageDiscoveryTest, AMemberBeingRecordedIsLeftOutOrRefused) {
  WriteMember("cam.vid", kSetA);
  WriteMember("cam2.vid", kSetA);
  CQuorFileStorage recording;
  ASSERT_EQ(recording.InitializeForWriting(m_dir.WidePath("cam1.vid").c_str(), 64, true), S_OK);
  EXPECT_EQ(Open("cam1.vid"), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
  CQuorFileStorage inspector;
  EXPECT_EQ(inspector.OpenFileForInspection(m_dir.WidePath("cam1.vid").c_str()),
            HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
  ASSERT_EQ(Open("cam.vid"), S_OK);
  EXPECT_EQ(Found(), std::vector<std::string>{"cam.vid"});  // the scan ends at cam1.vid
  Got(&recording, &CQuorFileStorage::Finalize);
  EXPECT_EQ(inspector.OpenFileForInspection(m_dir.WidePath("cam1.vid").c_str()), S_OK);
}

TEST_F(QuorFileStorageDiscoveryTest, ARelativeNameIsUsedAsGiven) {
  WriteMember("cam.vid", kSetA);
  WriteMember("cam1.vid", kSetA);
  char previous[4096];
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(::chdir(m_dir.Root().c_str()), 0);
  const HRESULT hr = m_storage.InitializeForReading(u"cam1.vid");
  ASSERT_EQ(::chdir(previous), 0);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(Index(u"cam1.vid"), 0u);
  EXPECT_EQ(Index(u"cam.vid"), 1u);
}

}  // namespace
