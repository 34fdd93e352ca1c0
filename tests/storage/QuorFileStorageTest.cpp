#include <gtest/gtest.h>

#include "platform/io/QuorLastError.h"
#include "quormediafiles/QuorResultCodes.h"
#include "storage/QuorFileStorage.h"
#include "storage/QuorMemberFileName.h"
#include "support/QuorGot.h"
#include "support/QuorTempDir.h"

namespace {

constexpr HRESULT kEof = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);

class QuorFileStorageTest : public ::testing::Test {
 protected:
  HRESULT Create(const std::string& name, DWORD maxSizeKiB, bool overwrite = true) {
    return m_storage.InitializeForWriting(m_dir.WidePath(name).c_str(), maxSizeKiB, overwrite);
  }
  HRESULT WriteBytes(const Bytes& bytes) {
    return m_storage.GetWriter()->Write(bytes.data(), static_cast<DWORD>(bytes.size()));
  }
  ULONGLONG Position() { return Got(&m_storage, &CQuorFileStorage::GetPosition, DWORD{0}); }
  ULONGLONG Finalize() { return Got(&m_storage, &CQuorFileStorage::Finalize); }

  CQuorTempDir m_dir;
  CQuorFileStorage m_storage;
};

TEST_F(QuorFileStorageTest, WriteMayEndExactlyAtTheLimitButNotOneBytePast) {
  for (DWORD kib : {1u, 3u}) {
    SCOPED_TRACE(kib);
    const ULONGLONG limit = kib * 1024ull;
    ASSERT_EQ(Create("limit.vid", kib), S_OK);
    ASSERT_EQ(WriteBytes(PatternBytes(limit - 16 - 1)), S_OK);
    EXPECT_EQ(WriteBytes(PatternBytes(2)), MFS_E_FILE_FULL);
    EXPECT_EQ(Position(), limit - 1);
    ASSERT_EQ(WriteBytes(PatternBytes(1)), S_OK);
    EXPECT_EQ(WriteBytes(PatternBytes(1)), MFS_E_FILE_FULL);
    ASSERT_EQ(m_storage.StopFileSizeControl(), S_OK);
    EXPECT_EQ(WriteBytes(PatternBytes(1)), S_OK);
    EXPECT_EQ(Finalize(), limit + 1);
    EXPECT_EQ(m_dir.FileSize("limit.vid"), limit + 1);
  }
}

TEST_F(QuorFileStorageTest, AnExistingFileIsKeptWithoutOverwriteAndEmptiedWithIt) {
  m_dir.WriteBytes("old.vid", PatternBytes(100));
  EXPECT_EQ(Create("old.vid", 1, false), HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
  EXPECT_EQ(m_dir.ReadBytes("old.vid"), PatternBytes(100));
  EXPECT_EQ(m_storage.GetMode(), smNone);
  ASSERT_EQ(Create("old.vid", 1, true), S_OK);
  EXPECT_EQ(Finalize(), 16u);
  // Only the signature, in GUID layout, is left.
  EXPECT_EQ(m_dir.ReadBytes("old.vid"), (Bytes{0x98, 0x40, 0x53, 0xCC, 0x38, 0x46, 0xD2, 0x41, 0x89,
                                               0xA3, 0x03, 0xC7, 0x9B, 0xBC, 0x62, 0x2F}));
}

TEST_F(QuorFileStorageTest, SeekMovesFromEachOriginAndRefusesOthers) {
  ASSERT_EQ(Create("seek.vid", 4), S_OK);
  ASSERT_EQ(WriteBytes(PatternBytes(84)), S_OK);  // 100 bytes in all
  ASSERT_EQ(m_storage.Seek(0, 10, soBegin), S_OK);
  EXPECT_EQ(Position(), 10u);
  ASSERT_EQ(m_storage.Seek(0, 5, soCurrent), S_OK);
  EXPECT_EQ(Position(), 15u);
  ASSERT_EQ(m_storage.Seek(0, -20, soEnd), S_OK);
  EXPECT_EQ(Position(), 80u);
  for (std::uint32_t origin : {0u, 4u}) {
    SCOPED_TRACE(origin);
    EXPECT_EQ(m_storage.Seek(0, 0, static_cast<SeekOrigin>(origin)), E_INVALIDARG);
    EXPECT_EQ(Position(), 80u);
  }
  EXPECT_EQ(m_storage.Seek(0, -1, soBegin), HRESULT_FROM_WIN32(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(m_storage.Seek(1, 0, soBegin), E_INVALIDARG);
  // An overwrite in the middle keeps the bytes after it.
  ASSERT_EQ(m_storage.Seek(0, 16, soBegin), S_OK);
  ASSERT_EQ(WriteBytes(Bytes(4, 0xEE)), S_OK);
  ASSERT_EQ(m_storage.Seek(0, 0, soEnd), S_OK);
  EXPECT_EQ(Finalize(), 100u);
  Bytes expected = PatternBytes(84);
  std::fill_n(expected.begin(), 4, 0xEE);
  const Bytes onDisk = m_dir.ReadBytes("seek.vid");
  EXPECT_EQ(Bytes(onDisk.begin() + 16, onDisk.end()), expected);
}

TEST_F(QuorFileStorageTest, ReadPastTheEndReportsEofAndLeavesTheBytesThatWereThere) {
  m_dir.WriteBytes("short.vid", PatternBytes(20));
  ASSERT_EQ(m_storage.OpenFileForInspection(m_dir.WidePath("short.vid").c_str()), S_OK);
  ASSERT_EQ(m_storage.Seek(0, 16, soBegin), S_OK);
  EXPECT_EQ(Got(m_storage.GetReader(), &CQuorFileStorageReader::GetRemaining), 4u);
  Bytes buffer(10, 0);
  EXPECT_EQ(m_storage.GetReader()->Read(buffer.data(), 10), kEof);
  const Bytes pattern = PatternBytes(20);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 4, pattern.begin() + 16));
  EXPECT_EQ(Position(), 20u);
}

TEST_F(QuorFileStorageTest, ReadAndWriteCheckArgumentsAndMode) {
  BYTE byte = 0;
  EXPECT_EQ(m_storage.Read(&byte, 1), MFS_E_WRONG_STATE);
  EXPECT_EQ(m_storage.Write(&byte, 1), MFS_E_WRONG_STATE);
  ASSERT_EQ(Create("mode.vid", 1), S_OK);
  EXPECT_EQ(m_storage.GetReader(), nullptr);
  EXPECT_EQ(m_storage.Read(&byte, 1), MFS_E_WRONG_STATE);
  EXPECT_EQ(m_storage.Write(nullptr, 1), E_POINTER);
  EXPECT_EQ(m_storage.Write(&byte, 0), E_INVALIDARG);
  EXPECT_EQ(m_storage.GetWriter()->Write(nullptr, 1), E_POINTER);
  EXPECT_EQ(m_storage.GetWriter()->Write(&byte, 0), S_OK);
  EXPECT_EQ(Finalize(), 16u);
  EXPECT_EQ(m_storage.Write(&byte, 1), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
}

TEST_F(QuorFileStorageTest, ChangeMaxFileSizeMovesTheLimitBothWays) {
  ASSERT_EQ(Create("change.vid", 1), S_OK);
  ASSERT_EQ(m_storage.ChangeMaxFileSize(-164), S_OK);
  EXPECT_EQ(m_storage.GetMaxFileSize(), 1024u - 164);
  EXPECT_EQ(WriteBytes(PatternBytes(1024 - 164 - 16 + 1)), MFS_E_FILE_FULL);
  ASSERT_EQ(m_storage.ChangeMaxFileSize(+164), S_OK);
  EXPECT_EQ(m_storage.GetMaxFileSize(), 1024u);
  EXPECT_EQ(WriteBytes(PatternBytes(1024 - 16)), S_OK);
}

TEST_F(QuorFileStorageTest, MemberFileNamesNumberTheBaseName) {
  // The name given, the member number, the result, the member's name.
  const std::tuple<const char16_t*, DWORD, HRESULT, const char16_t*> kCases[] = {
      {u"/rec/cam.vid", 0, S_OK, u"/rec/cam.vid"},    {u"/rec/cam.vid", 1, S_OK, u"/rec/cam1.vid"},
      {u"/rec/cam.vid", 12, S_OK, u"/rec/cam12.vid"}, {u"cam.x.vid", 2, S_OK, u"cam.x2.vid"},
      {u"/rec.d/cam", 1, E_INVALIDARG, u""},
  };
  for (const auto& [name, k, hr, expected] : kCases) {
    SCOPED_TRACE(std::to_string(k));
    std::u16string member;
    EXPECT_EQ(QuorMemberFileName(name, k, &member), hr);
    if (hr == S_OK) {
      EXPECT_EQ(member, expected);
    }
  }
}

}  // namespace
