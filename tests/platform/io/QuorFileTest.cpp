#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>

#include "platform/io/QuorFile.h"
#include "platform/io/QuorLastError.h"
#include "support/QuorFaultyFileSystem.h"
#include "support/QuorTempDir.h"

namespace {

class QuorFileTest : public ::testing::Test {
 protected:
  // Reading alone opens an existing file and shares it with readers; writing creates it anew.
  CQuorFile Open(const std::string& name, DWORD access,
                 CQuorFileSystem& fileSystem = QuorPosixFileSystem()) {
    const bool read = access == GENERIC_READ;
    CQuorFile file;
    EXPECT_TRUE(file.Create(m_dir.Path(name), access, read ? FILE_SHARE_READ : 0,
                            read ? OPEN_EXISTING : CREATE_ALWAYS, 0, fileSystem))
        << GetLastError();
    return file;
  }

  // Writes pieces of the given sizes until one fails; returns the bytes accepted.
  static Bytes WriteUntilFailure(CQuorFile& file, const std::vector<DWORD>& sizes, DWORD* error) {
    Bytes accepted;
    *error = ERROR_SUCCESS;
    for (std::size_t i = 0; *error == ERROR_SUCCESS; ++i) {
      const Bytes piece = PatternBytes(sizes[i % sizes.size()], accepted.size());
      DWORD written = 0;
      if (file.Write(piece.data(), static_cast<DWORD>(piece.size()), &written)) {
        accepted.insert(accepted.end(), piece.begin(), piece.end());
      } else {
        *error = GetLastError();
        EXPECT_EQ(written, 0u);
      }
    }
    return accepted;
  }

  CQuorTempDir m_dir;
};

TEST_F(QuorFileTest, InterleavedWritesSeeksAndReadsMatchAModelOfTheFile) {
  CQuorFile file = Open("model.bin", GENERIC_READ | GENERIC_WRITE);
  Bytes model;
  ULONGLONG position = 0;
  std::mt19937 random(7);
  for (int step = 0; step < 3000; ++step) {
    SCOPED_TRACE(step);
    const int action = static_cast<int>(random() % 10);
    if (action < 5) {  // mostly small writes, now and then one larger than the buffer
      const DWORD size = random() % 50 == 0 ? CQuorFile::kWriteBufferSize + 4000
                                            : static_cast<DWORD>(1 + random() % 3000);
      const Bytes piece = PatternBytes(size, random());
      ASSERT_TRUE(file.Write(piece.data(), size, nullptr)) << GetLastError();
      if (model.size() < position + size) model.resize(position + size);
      std::copy(piece.begin(), piece.end(), model.begin() + static_cast<std::ptrdiff_t>(position));
      position += size;
    } else if (action < 7) {
      const DWORD size = random() % 40 == 0 ? CQuorFile::kReadBufferSize + 100
                                            : static_cast<DWORD>(1 + random() % 5000);
      Bytes got(size);
      DWORD read = 0;
      ASSERT_TRUE(file.Read(got.data(), size, &read)) << GetLastError();
      const ULONGLONG expected =
          position >= model.size() ? 0 : std::min<ULONGLONG>(size, model.size() - position);
      ASSERT_EQ(read, expected);
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + read,
                             model.begin() + static_cast<std::ptrdiff_t>(position)));
      position += read;
    } else if (action < 9) {
      const LONGLONG target = static_cast<LONGLONG>(random() % (model.size() + 100));
      const DWORD method = static_cast<DWORD>(random() % 3);
      const LONGLONG base = method == FILE_BEGIN     ? 0
                            : method == FILE_CURRENT ? static_cast<LONGLONG>(position)
                                                     : static_cast<LONGLONG>(model.size());
      ULONGLONG newPosition = 0;
      ASSERT_TRUE(file.SetPointer(target - base, &newPosition, method));
      position = static_cast<ULONGLONG>(target);
      ASSERT_EQ(newPosition, position);
    } else if (random() % 4 == 0) {
      ASSERT_TRUE(file.SetEndOfFile());
      model.resize(position);
    } else {
      ASSERT_TRUE(file.Flush());
    }
    ULONGLONG reported = 0;
    ASSERT_TRUE(file.GetPosition(&reported));
    ASSERT_EQ(reported, position);
  }
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(m_dir.ReadBytes("model.bin"), model);
}

TEST_F(QuorFileTest, SmallTransfersReachTheSystemInLargeCalls) {
  CQuorFaultyFileSystem faulty;
  CQuorFile file = Open("batched.bin", GENERIC_READ | GENERIC_WRITE, faulty);
  const Bytes piece = PatternBytes(12);
  for (int i = 0; i < 20000; ++i) ASSERT_TRUE(file.Write(piece.data(), 12, nullptr));
  ASSERT_TRUE(file.Flush());
  EXPECT_LE(faulty.PwriteCalls(), 1u);

  ASSERT_TRUE(file.SetPointer(0, nullptr, FILE_BEGIN));
  Bytes got(12);
  for (int i = 0; i < 20000; ++i) {
    DWORD read = 0;
    ASSERT_TRUE(file.Read(got.data(), 12, &read));
    ASSERT_EQ(got, piece);
  }
  EXPECT_LE(faulty.PreadCalls(), 240000u / CQuorFile::kReadBufferSize + 1);
}

// Walking blocks backwards from the end of a file, as the reader does along the index chain,
// must neither refill the whole buffer per step nor hand out bytes from the wrong place.
TEST_F(QuorFileTest, ABackwardWalkReadsTheRightBytesInFewCalls) {
  const Bytes content = PatternBytes(2u << 20);
  m_dir.WriteBytes("walk.bin", content);
  CQuorFaultyFileSystem faulty;
  CQuorFile file = Open("walk.bin", GENERIC_READ, faulty);
  Bytes got(128);
  for (ULONGLONG at = content.size() - got.size(); at >= 200; at -= 200) {
    DWORD read = 0;
    ASSERT_TRUE(file.SetPointer(static_cast<LONGLONG>(at), nullptr, FILE_BEGIN));
    ASSERT_TRUE(file.Read(got.data(), static_cast<DWORD>(got.size()), &read));
    ASSERT_TRUE(std::equal(got.begin(), got.end(), content.begin() + static_cast<long>(at))) << at;
  }
  EXPECT_LE(faulty.PreadCalls(), content.size() / (CQuorFile::kReadBufferSize / 2) + 8);
}

// A writer refuses every other opener of this process; readers share a file but keep a writer
// from emptying it.
TEST_F(QuorFileTest, SharingViolationsFollowTheOpenFilesAccess) {
  m_dir.WriteBytes("shared.bin", PatternBytes(100));
  CQuorFile first = Open("shared.bin", GENERIC_READ), second = Open("shared.bin", GENERIC_READ);
  CQuorFile third;
  EXPECT_FALSE(third.Create(m_dir.Path("shared.bin"), GENERIC_WRITE, 0, CREATE_ALWAYS));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(m_dir.FileSize("shared.bin"), 100u);

  CQuorFile writer = Open("locked.bin", GENERIC_WRITE);
  const std::pair<DWORD, DWORD> kOpeners[] = {{GENERIC_READ, OPEN_EXISTING},
                                              {GENERIC_WRITE, CREATE_ALWAYS}};
  for (const auto& [access, creation] : kOpeners) {
    EXPECT_FALSE(third.Create(m_dir.Path("locked.bin"), access, FILE_SHARE_READ, creation));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  }
  ASSERT_TRUE(writer.Close());
  EXPECT_TRUE(third.Create(m_dir.Path("locked.bin"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
}

TEST_F(QuorFileTest, OpenFailuresCarryTheirWin32Codes) {
  m_dir.WriteBytes("exists.bin", PatternBytes(4));
  m_dir.MakeDirectory("folder.bin");
  ASSERT_EQ(::mkfifo(m_dir.Path("fifo.bin").c_str(), 0600), 0);
  const std::tuple<const char*, DWORD, DWORD, DWORD> kCases[] = {
      {"exists.bin", GENERIC_WRITE, CREATE_NEW, ERROR_FILE_EXISTS},
      {"missing.bin", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {"folder.bin", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {"folder.bin", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
      {"fifo.bin", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},  // without blocking
      {"exists.bin/x", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
  };
  for (const auto& [name, access, creation, error] : kCases) {
    SCOPED_TRACE(name);
    CQuorFile file;
    EXPECT_FALSE(file.Create(m_dir.Path(name), access, FILE_SHARE_READ, creation));
    EXPECT_EQ(GetLastError(), error);
    EXPECT_FALSE(file.IsOpen());
  }
}

// The disk holds N more bytes. Whatever the write pattern, the write that meets the full disk
// reports it and is not taken at all, and every byte reported written is in the file after
// closing, nothing more.
TEST_F(QuorFileTest, DiskFullIsReportedToTheWriteThatMeetsItForEveryRoomSize) {
  const std::tuple<const char*, bool, ULONGLONG> kModes[] = {{"Preallocated", true, 0},
                                                             {"PreallocatedWithReserve", true, 164},
                                                             {"WriteThrough", false, 0}};
  const std::vector<DWORD> kSizes = {8, 4, 1000, 4, 16, 300, 4, 24};
  for (const auto& [name, preallocate, reserve] : kModes) {
    for (ULONGLONG room = 0; room < 2000; room += 37) {
      SCOPED_TRACE(std::string(name) + " room " + std::to_string(room));
      Bytes accepted;
      m_dir.Remove("full.bin");  // its old blocks would count as room once emptied
      {
        CQuorFaultyFileSystem faulty;
        faulty.SetDiskRoom(room);
        if (!preallocate) faulty.RefuseFallocate();
        CQuorFile file = Open("full.bin", GENERIC_WRITE, faulty);
        if (reserve != 0 && !file.SetReserve(reserve)) {
          EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
          ASSERT_LT(room, reserve);
        }
        DWORD error = ERROR_SUCCESS;
        accepted = WriteUntilFailure(file, kSizes, &error);
        EXPECT_EQ(error, ERROR_DISK_FULL);
        EXPECT_LE(accepted.size() + (preallocate ? reserve : 0),
                  std::max<ULONGLONG>(room, reserve));
        ASSERT_TRUE(file.Close()) << GetLastError();
      }
      EXPECT_EQ(m_dir.ReadBytes("full.bin"), accepted);
    }
  }
}

TEST_F(QuorFileTest, ShortenedReadsStillDeliverEveryByte) {
  const Bytes content = PatternBytes(CQuorFile::kReadBufferSize * 2 + 77);
  m_dir.WriteBytes("short.bin", content);
  CQuorFaultyFileSystem faulty;
  faulty.ShortenReadsTo(1000);
  CQuorFile file = Open("short.bin", GENERIC_READ, faulty);
  Bytes got(content.size() + 10);
  DWORD read = 0;
  ASSERT_TRUE(file.Read(got.data(), 5, &read));
  ASSERT_TRUE(file.Read(got.data() + 5, static_cast<DWORD>(got.size() - 5), &read));
  EXPECT_EQ(read, content.size() - 5);
  got.resize(content.size());
  EXPECT_EQ(got, content);
}

TEST_F(QuorFileTest, AnIoErrorOrAReadOnlyHandleFailsTheCallThatMeetsIt) {
  CQuorFaultyFileSystem faulty;
  CQuorFile file = Open("eio.bin", GENERIC_READ | GENERIC_WRITE, faulty);
  const Bytes piece = PatternBytes(100);
  ASSERT_TRUE(file.Write(piece.data(), 100, nullptr));
  faulty.FailCall(1);  // the flush that the read needs
  Bytes got(10);
  EXPECT_FALSE(file.SetPointer(0, nullptr, FILE_BEGIN));
  EXPECT_EQ(GetLastError(), ERROR_IO_DEVICE);
  // The bytes stay buffered and reach the file on the next flush.
  ASSERT_TRUE(file.SetPointer(0, nullptr, FILE_BEGIN));
  DWORD read = 0;
  ASSERT_TRUE(file.Read(got.data(), 10, &read));
  EXPECT_EQ(Bytes(piece.begin(), piece.begin() + 10), got);
  ASSERT_TRUE(file.Close());

  CQuorFile reader = Open("eio.bin", GENERIC_READ, faulty);
  EXPECT_FALSE(reader.Write(piece.data(), 4, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  faulty.FailCall(1);
  EXPECT_FALSE(reader.Read(got.data(), 10, &read));
  EXPECT_EQ(GetLastError(), ERROR_IO_DEVICE);
  EXPECT_EQ(read, 0u);
}

}  // namespace
