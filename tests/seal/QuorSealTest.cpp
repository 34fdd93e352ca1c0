// Seals end to end: recordings sealed by the writer, then damaged, swapped, cut or forged, and
// what the seal verifier reports for each member file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "format/QuorFormatLayout.h"
#include "quormediafiles/QuorResultCodes.h"
#include "seal/QuorSealVerifier.h"
#include "support/QuorBlockParser.h"
#include "support/QuorFaultyFileSystem.h"
#include "support/QuorGot.h"
#include "writer/QuorMediaFileWriter.h"
#include "writer/QuorWriterTestSupport.h"

namespace {

namespace fs = std::filesystem;

class QuorSealTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(m_key.Generate(), S_OK);
    ASSERT_EQ(m_key.WritePair(m_dir.Path("key")), S_OK);
    ASSERT_EQ(m_public.LoadPublic(m_dir.Path("key.pub")), S_OK);
  }
  void TearDown() override { CQuorMediaFileWriter::SetIndexPeriodForTesting({}); }

  // Records count samples of 3000 bytes into name with seals, files of maxSizeKiB, and stops.
  void RecordSealed(const std::string& name, int count, ULONG maxSizeKiB = 64, ULONG maxFiles = 4,
                    bool durable = false, CQuorFileSystem& fileSystem = QuorPosixFileSystem()) {
    auto writer = NewWriter(fileSystem);
    const auto seal = QueryAs<IQuorMediaFileWriterSeal>(writer);
    const auto options = QueryAs<IQuorMediaFileWriterOptions>(writer);
    ASSERT_EQ(options->SetDurable(durable ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
    ASSERT_EQ(seal->SetSigningKey(Wide(m_dir.Path("key")).Get()), S_OK);
    fs::create_directories(fs::path(m_dir.Path(name)).parent_path());
    StartSimpleRecording(writer.Get(), m_dir.Path(name), maxSizeKiB, maxFiles);
    const ULONGLONG head = BytesWrittenTotal(writer.Get());
    for (int i = 0; i < count; ++i) {
      ASSERT_TRUE(SUCCEEDED(writer->Write(1, NewSample(PatternBytes(3000, i), i).Get())));
    }
    WaitForBytes(writer.Get(), head + count * (3000 + kMediaSampleOverhead));
    ASSERT_EQ(writer->StopRecording(), S_OK);
  }

  QuorSealReport Verify(const std::string& name, const CQuorSealKey* key = nullptr) {
    QuorSealReport report;
    EXPECT_EQ(QuorVerifySeal(m_dir.Path(name), key ? *key : m_public, &report), S_OK);
    return report;
  }

  CQuorTempDir m_dir;
  CQuorSealKey m_key, m_public;
};

// The gap seals close: whoever has the library can change a sample and recompute its block hash
// and the file hash with the fixed salt, and IsAuthentic cannot tell. The seal can.
TEST_F(QuorSealTest, ForgedSampleWithRecomputedHashesIsAuthenticButItsSealNamesTheRange) {
  RecordSealed("cam.vid", 5, 1024, 1);
  ASSERT_EQ(Verify("cam.vid").state, sstSealedToEnd);

  const ParsedBlock sample = ParseFile(m_dir, "cam.vid").First(btMediaSample);
  ForgeByte(m_dir, "cam.vid", sample.offset + kBlockHeaderSize + kFieldHeaderSize, true);

  auto reader = CreateObject<IQuorMediaFileReader>(CLSID_QuorMediaFileReader);
  ASSERT_EQ(reader->OpenFileSet(Wide(m_dir.Path("cam.vid")).Get(), nullptr), S_OK);
  EXPECT_EQ(Got(reader.Get(), &IQuorMediaFileReader::IsAuthentic), VARIANT_TRUE)
      << "the salted hashes were recomputed: MD5 cannot tell";
  reader = nullptr;

  const QuorSealReport report = Verify("cam.vid");
  EXPECT_EQ(report.state, sstBytesDiffer);
  EXPECT_EQ(report.memberFile, m_dir.Path("cam.vid"));
  EXPECT_LE(report.rangeStart, sample.offset);
  EXPECT_GT(report.rangeEnd, sample.offset);
  EXPECT_NE(report.Describe().find("bytes differ"), std::string::npos);
}

TEST_F(QuorSealTest, DamagedSwappedOrForeignSealsAreReportedPerMemberFile) {
  RecordSealed("cam.vid", 40);
  RecordSealed("other/cam.vid", 40);
  ASSERT_TRUE(m_dir.Exists("cam1.vid"));
  CQuorSealKey otherKey;
  ASSERT_EQ(otherKey.Generate(), S_OK);
  const std::string seal0 = m_dir.Path("cam.vid.seal"), seal1 = m_dir.Path("cam1.vid.seal");

  // Name, the damage, the state of cam.vid's seal, whether another key verifies it.
  const std::tuple<const char*, std::function<void()>, QuorSealState, bool> kDamage[] = {
      {"Intact", [] {}, sstSealedToEnd, false},
      {"OtherKey", [] {}, sstOtherKey, true},
      {"Deleted", [&] { fs::remove(seal0); }, sstNoSeal, false},
      {"SwappedBetweenMembers",
       [&] {
         fs::rename(seal0, seal0 + ".tmp");
         fs::rename(seal1, seal0);
         fs::rename(seal0 + ".tmp", seal1);
       },
       sstOtherFile, false},
      {"FromAnotherFileset",
       [&] {
         fs::copy_file(m_dir.Path("other/cam.vid.seal"), seal0,
                       fs::copy_options::overwrite_existing);
       },
       sstOtherFile, false},
      {"CutInsideARecord", [&] { fs::resize_file(seal0, fs::file_size(seal0) - 10); },
       sstBrokenRecord, false},
      {"SignatureByteFlipped", [&] { m_dir.FlipByte("cam.vid.seal", kSealSignedSize + 3); },
       sstBrokenRecord, false},
  };
  const Bytes original0 = m_dir.ReadBytes("cam.vid.seal");
  const Bytes original1 = m_dir.ReadBytes("cam1.vid.seal");
  for (const auto& [name, apply, state0, useOtherKey] : kDamage) {
    SCOPED_TRACE(name);
    m_dir.WriteBytes("cam.vid.seal", original0);
    m_dir.WriteBytes("cam1.vid.seal", original1);
    apply();
    const QuorSealReport report = Verify("cam.vid", useOtherKey ? &otherKey : nullptr);
    EXPECT_EQ(report.state, state0) << report.Describe();
    EXPECT_FALSE(report.Describe().empty());
  }
  // Cut inside its last record, a file keeps the seals before it.
  m_dir.WriteBytes("cam.vid.seal", Bytes(original0.begin(), original0.end() - 10));
  EXPECT_EQ(Verify("cam.vid").goodRecords, original0.size() / kSealRecordSize - 1);
}

// A recorder killed mid-recording leaves seals up to the last index block written; the bytes up
// to there verify, the rest is counted, and a file cut inside the sealed part is named.
TEST_F(QuorSealTest, KilledRecordingVerifiesUpToTheLastSealWritten) {
  const std::string name = "kill.vid";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CQuorMediaFileWriter::SetIndexPeriodForTesting(std::chrono::milliseconds(2));
    auto writer = NewWriter();
    CQuorComPtr<IQuorMediaFileWriterSeal> seal;
    if (FAILED(writer.As(&seal)) || FAILED(seal->SetSigningKey(Wide(m_dir.Path("key")).Get()))) {
      ::_exit(3);
    }
    StartSimpleRecording(writer.Get(), m_dir.Path(name), 65536, 1);
    for (int i = 0;; ++i) {
      (void)writer->Write(1, NewSample(PatternBytes(700, i), i).Get());
      // Pauses let the index timer win over the queue now and then, even on a loaded machine.
      if (i % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  for (int i = 0; i < 12000 && !(m_dir.Exists(name + ".seal") &&
                                 fs::file_size(m_dir.Path(name + ".seal")) >= 3 * kSealRecordSize);
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));

  const QuorSealReport report = Verify(name);
  EXPECT_EQ(report.state, sstSealedPartly) << report.Describe();
  EXPECT_GE(report.goodRecords, 3u);
  EXPECT_FALSE(report.finalized);
  EXPECT_GE(report.fileSize, report.sealedEnd);

  fs::resize_file(m_dir.Path(name), report.sealedEnd - 1);
  const QuorSealReport cut = Verify(name);
  EXPECT_EQ(cut.state, sstBytesDiffer);
  EXPECT_EQ(cut.rangeEnd, report.sealedEnd);
  EXPECT_NE(cut.Describe().find("the file ends at byte"), std::string::npos);
}

// The seal thread writes records after the worker asks for them: with an index block every 2 ms
// and several rollovers, a recording stopped as soon as its samples are on disk still has, in
// every member file, one record per index block and one for its end, and each verifies.
TEST_F(QuorSealTest, EverySealAskedForIsWrittenByTheTimeTheRecordingStops) {
  CQuorMediaFileWriter::SetIndexPeriodForTesting(std::chrono::milliseconds(2));
  RecordSealed("cam.vid", 150, 64, 16);
  int files = 0;
  for (const std::string name : {"cam.vid", "cam1.vid", "cam2.vid", "cam3.vid", "cam4.vid"}) {
    if (!m_dir.Exists(name)) break;
    SCOPED_TRACE(name);
    ++files;
    const ParsedFile parsed = ParseFile(m_dir, name);
    const auto indexBlocks = std::count_if(parsed.blocks.begin(), parsed.blocks.end(),
                                           [](const ParsedBlock& b) { return b.type == btIndex; });
    const QuorSealReport report = Verify(name);
    EXPECT_EQ(report.state, sstSealedToEnd) << report.Describe();
    EXPECT_EQ(report.goodRecords, std::size_t(indexBlocks) + 1);
  }
  EXPECT_GE(files, 5);
}

// A durable recording syncs each seal record to the device, beside the head, the index blocks
// and the closing blocks of the member file.
TEST_F(QuorSealTest, DurableRecordingSyncsEverySealRecord) {
  CQuorFaultyFileSystem faulty;
  RecordSealed("cam.vid", 3, 1024, 1, true, faulty);
  const std::size_t records = m_dir.ReadBytes("cam.vid.seal").size() / kSealRecordSize;
  EXPECT_EQ(records, 2u);  // the last index block, the end
  EXPECT_EQ(faulty.SyncCalls(), 3 + records);
  EXPECT_EQ(Verify("cam.vid").state, sstSealedToEnd);
}

TEST_F(QuorSealTest, BadSigningKeysAreRefusedBeforeRecordingStarts) {
  m_dir.WriteBytes("garbage.pem", PatternBytes(200));
  fs::permissions(m_dir.Path("garbage.pem"), fs::perms::owner_read | fs::perms::owner_write);
  fs::copy_file(m_dir.Path("key"), m_dir.Path("open.pem"));
  fs::permissions(m_dir.Path("open.pem"), fs::perms::others_read, fs::perm_options::add);
  const std::pair<const char*, HRESULT> kCases[] = {
      {"missing.pem", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
      {"garbage.pem", MFS_E_BAD_FORMAT},
      {"key.pub", E_INVALIDARG},
      {"open.pem", E_ACCESSDENIED},
  };
  for (const auto& [file, hr] : kCases) {
    SCOPED_TRACE(file);
    const auto seal = QueryAs<IQuorMediaFileWriterSeal>(NewWriter());  // holds the writer
    EXPECT_EQ(seal->SetSigningKey(Wide(m_dir.Path(file)).Get()), hr);
    EXPECT_NE(LastErrorText(), "");
  }

  auto writer = NewWriter();
  const auto seal = QueryAs<IQuorMediaFileWriterSeal>(writer);
  ASSERT_EQ(seal->SetSigningKey(Wide(m_dir.Path("key")).Get()), S_OK);
  EXPECT_EQ(writer->Initialize(Wide(m_dir.Path("cam.seal")).Get(), 64, 1, VARIANT_FALSE),
            E_INVALIDARG);  // its sidecars would pass for member files
  StartSimpleRecording(writer.Get(), m_dir.Path("cam.vid"), 64, 1);
  EXPECT_EQ(seal->SetSigningKey(Wide(m_dir.Path("key")).Get()), MFS_E_WRONG_STATE);
  ASSERT_EQ(writer->StopRecording(), S_OK);
  EXPECT_EQ(Verify("cam.vid").state, sstSealedToEnd);
}

}  // namespace
