// Runs the built quormf as a user would and checks what it prints and how it exits against what
// `quormf record --manifest` says it recorded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "QuorMfRun.h"
#include "quormediafiles/platform/QuorGuid.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "quormediafiles/quor.hpp"
#include "support/QuorTempDir.h"

namespace {

using Json = nlohmann::json;

constexpr const char* kPassword = "s3cret";
constexpr const char* kDescription = "tool test recording";

class QuorMfToolTest : public QuorMfFixture {
 protected:
  // Records 3 s of the synthetic sources into rec/cam.qmf with 128 KiB files (several of them).
  void Record(const std::string& extra = "") {
    Expect("record " + Arg("rec/cam.qmf") + " --max-size 128 --max-files 20 --duration 3 -p " +
               kPassword + " -d '" + kDescription + "' --manifest " + Arg("manifest.json") + " " +
               extra,
           0);
    m_manifest = Json::parse(Slurp(m_dir.Path("manifest.json")));
  }

  std::string Fileset() const { return Arg("rec/cam.qmf") + " -p " + kPassword; }

  std::size_t MemberCount() const {
    const std::filesystem::directory_iterator files(m_dir.Path("rec"));
    return static_cast<std::size_t>(std::distance(begin(files), end(files)));
  }

  Json m_manifest;
};

// The demo, given a relative directory, ends with "Try:" lines that run from anywhere.
TEST_F(QuorMfToolTest, DemoRecordsAuthenticatesAndNamesTheDamagedBlock) {
  const RunResult r =
      Expect("demo 'my demo'", 0, "fileset: AUTHENTIC, complete", "cd " + Arg("") + " &&");
  EXPECT_NE(r.out.find("demo2.qmf: NOT authentic - block "), std::string::npos) << r.out;
  EXPECT_TRUE(m_dir.Exists("my demo/demo.qmf"));
  EXPECT_TRUE(m_dir.Exists("my demo/demo3.qmf")) << "the demo rolls over into several files";
  std::istringstream lines(r.out.substr(r.out.find("Try:\n") + 5));
  int tried = 0;
  for (std::string line; std::getline(lines, line); ++tried) {
    SCOPED_TRACE(line);
    const int raw = std::system(("cd / && " + line + " >/dev/null 2>&1").c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) <= 1) << "exit 1: damage found, as shown";
  }
  EXPECT_EQ(tried, 4);
}

TEST_F(QuorMfToolTest, InfoJsonMatchesWhatWasRecorded) {
  Record();
  const Json info = RunJson("info --json " + Fileset());

  EXPECT_EQ(info["fileset"]["password_protected"], true);

  const std::size_t members = MemberCount();
  ASSERT_GE(members, 3u);
  ASSERT_EQ(info["files"].size(), members);
  for (const Json& file : info["files"]) {
    EXPECT_EQ(file["flags"], file["fileset_index"] == members - 1 ? 0x03 : 0x02) << file;
  }

  const struct {
    const char *id, *name, *format;
  } kTracks[] = {{"1", "camera", "H.264"}, {"2", "microphone", "AAC"}};
  ASSERT_EQ(info["tracks"].size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(kTracks[i].name);
    const Json& track = info["tracks"][i];
    const Json& recorded = m_manifest["tracks"][kTracks[i].id];
    EXPECT_EQ(track["name"], kTracks[i].name);
    EXPECT_EQ(i == 0 ? track["video_format_name"] : track["audio_format_name"], kTracks[i].format);
    EXPECT_EQ(track["samples"], recorded.size());
    EXPECT_EQ(track["last_timestamp"], recorded.back()["timestamp"]);
  }
  EXPECT_EQ(info["tracks"][0]["samples"], 75);  // 3 s at 25 frames per second
  EXPECT_EQ(info["tracks"][1]["samples"], 150);
  EXPECT_EQ(info["tracks"][1]["pair_id"], 1);

  // The camera's format identifier changed to one outside the reader's table in every member
  // file: the reader refuses the track's metadata, info still shows its samples and the code.
  const std::string text = info["tracks"][0]["video_format"];
  GUID format{};
  ASSERT_EQ(CLSIDFromString(QuorUtf8ToUtf16(text).c_str(), &format), S_OK);
  const auto* raw = reinterpret_cast<const BYTE*>(&format);
  const Bytes guid(raw, raw + sizeof format);
  for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path("rec"))) {
    const std::string name = "rec/" + entry.path().filename().string();
    Bytes bytes = m_dir.ReadBytes(name);
    const auto at = std::search(bytes.begin(), bytes.end(), guid.begin(), guid.end());
    ASSERT_NE(at, bytes.end()) << name;
    at[15] ^= 1;
    m_dir.WriteBytes(name, bytes);
  }
  const Json unknown = RunJson("info --json " + Fileset());
  ASSERT_EQ(unknown["tracks"].size(), 2u);
  EXPECT_EQ(unknown["tracks"][0]["metadata_error"], "MFS_E_BAD_FORMAT (0x8004F009)");
  EXPECT_EQ(unknown["tracks"][0]["samples"], 75);
  EXPECT_EQ(unknown["tracks"][1]["name"], "microphone");
}

// Whole tracks are listed in RecordManifestListsOnlyTheSamplesWritten.
TEST_F(QuorMfToolTest, SamplesJsonMatchesTheRecordedSamplesOverRanges) {
  Record();
  // Name, track, range arguments, the first sample listed (its index in the manifest), count.
  const std::tuple<const char*, const char*, const char*, std::size_t, std::size_t> kRanges[] = {
      {"BoundsBetweenFrames", "1", "--from 410000 --to 830000", 11, 10},
      {"FromOnly", "2", "--from 2900000", 145, 5},
      {"ToOnly", "1", "--to 0", 0, 1},
      {"EmptyPastTheEnd", "1", "--from 5000000", 0, 0},
  };
  for (const auto& [name, track, args, first, count] : kRanges) {
    SCOPED_TRACE(name);
    const Json samples =
        RunJson(std::string("samples --json --track ") + track + " " + args + " " + Fileset());
    const Json& all = m_manifest["tracks"][track];
    ASSERT_EQ(samples.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
      EXPECT_EQ(samples[i], all[first + i]) << "sample " << i;
    }
  }
}

TEST_F(QuorMfToolTest, ExtractWritesThePayloadsToStdoutAndToFiles) {
  Record();
  std::size_t expected = 0;
  for (std::size_t i = 50; i <= 55; ++i)
    expected += m_manifest["tracks"]["2"][i]["size"].get<std::size_t>();
  EXPECT_EQ(
      Expect("extract --track 2 --from 1000000 --to 1100000 --stdout " + Fileset(), 0).out.size(),
      expected);

  Expect("extract --track 1 --to 200000 --out " + Arg("out") + " " + Fileset(), 0);
  for (std::size_t i = 0; i <= 5; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "out/track1_%020zu.bin", i * 40000);
    SCOPED_TRACE(name);
    ASSERT_TRUE(m_dir.Exists(name));
    EXPECT_EQ(m_dir.FileSize(name), m_manifest["tracks"]["1"][i]["size"].get<std::uint64_t>());
  }
}

TEST_F(QuorMfToolTest, VerifyExitStatusFollowsAuthenticityAndCompleteness) {
  Record();
  const std::string lastFile = "rec/cam" + std::to_string(MemberCount() - 1) + ".qmf";
  const std::tuple<const char*, std::function<void()>, int, const char*> kCases[] = {
      {"Untouched", [] {}, 0, "fileset: AUTHENTIC, complete"},
      // Inside the first media sample's payload of the second file.
      {"PayloadByteFlipped", [&] { m_dir.FlipByte("rec/cam1.qmf", 1000); }, 1,
       "fails its block hash check"},
      {"LastFileMissing", [&] { m_dir.Remove(lastFile); }, 1, "INCOMPLETE"},
      {"LastFileCutShort", [&] { m_dir.TruncateBy(lastFile, 200); }, 1,
       "runs past the end of the file"},
  };
  const std::string pristine = m_dir.Path("pristine");
  std::filesystem::copy(m_dir.Path("rec"), pristine);
  for (const auto& [name, damage, status, says] : kCases) {
    SCOPED_TRACE(name);
    std::filesystem::remove_all(m_dir.Path("rec"));
    std::filesystem::copy(pristine, m_dir.Path("rec"));
    damage();
    Expect("verify " + Fileset(), status, says);
    const Json json = RunJson("verify --json " + Fileset(), status);
    EXPECT_EQ(json["authentic"].get<bool>() && json["complete"].get<bool>(), status == 0);
  }
}

// The first line says in words what is wrong and names the file, then the result code; it
// names no method of the library, and only damage suggests salvage.
TEST_F(QuorMfToolTest, FailuresSayWhatIsWrongInWordsThenTheResultCode) {
  Record();
  const std::string path = m_dir.Path("rec/cam.qmf"), fileset = "'" + path + "'";
  // Beside the members: discovery skips it, naming it is refused, neither waits for a writer.
  ASSERT_EQ(::mkfifo(m_dir.Path("rec/fifo.qmf").c_str(), 0600), 0);
  std::filesystem::create_directories(m_dir.Path("other"));
  m_dir.WriteBytes("other/empty.qmf", {});
  const std::string missing = m_dir.Path("nothing/here.qmf");
  // Name, arguments, what the first line of stderr says.
  const std::tuple<const char*, std::string, std::string> kCases[] = {
      {"WrongPassword", "info " + fileset + " -p wrong",
       "the password does not match the fileset of " + path + ": MFS_E_BAD_PASSWORD (0x8004F008)"},
      {"NoPassword", "verify " + fileset,
       "the fileset of " + path +
           " is password protected: give its password with --password: MFS_E_BAD_PASSWORD"},
      {"MissingFile", "verify '" + missing + "'",
       missing + " does not exist: HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) (0x80070002)"},
      {"Directory", "info " + Arg("rec"), m_dir.Path("rec") + " is a directory, not a member file"},
      {"EmptyFile", "samples --track 1 " + Arg("other/empty.qmf"),
       m_dir.Path("other/empty.qmf") + " cannot be read as a member file (empty file): "},
      {"UnknownTrack", "samples --track 7 " + Fileset(),
       "track 7 is not in the fileset of " + path + " (its tracks: 1, 2): E_INVALIDARG"},
      {"RecordWithoutExtension", "record " + Arg("noext") + " --max-size 64 --max-files 2",
       m_dir.Path("noext") + " has no extension: "},
      {"RecordOverAFileset", "record " + fileset + " --max-size 64 --max-files 2",
       path + " already exists: give --overwrite"},
      {"BadOption", "info --no-such-option " + fileset, "--no-such-option"},
      {"NamedFifo", "info " + Arg("rec/fifo.qmf"), "fifo.qmf is not a regular file"},
      {"IndexPeriodZero",
       "record " + Arg("p.qmf") + " --max-size 64 --max-files 2 --index-period 0",
       "--index-period"},
      {"MaxSizeZero", "record " + Arg("x/y.qmf") + " --max-size 0 --max-files 1",
       "not in range 1 to 5242880"},
      {"NegativeFrom", "samples " + fileset + " --track 1 --from -5",
       "a timestamp is a number from 0"},
  };
  for (const auto& [name, args, says] : kCases) {
    SCOPED_TRACE(name);
    const RunResult r = Run(args);
    EXPECT_EQ(r.status, 2) << r.out;
    const std::string first = r.err.substr(0, r.err.find('\n'));
    EXPECT_NE(first.find(says), std::string::npos) << r.err;
    EXPECT_EQ(first.find("CQuor"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("salvage"), std::string::npos) << r.err;
    EXPECT_LT(r.err.size(), 300u) << "no usage text after the error: " << r.err;
  }
  const RunResult version = Run("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("quormf ", 0), 0u) << version.out;
}

// The user's registry by default, the system-wide one with --system; either records the
// versioned name the loader uses, so that an upgrade keeps the registration.
TEST_F(QuorMfToolTest, RegisterRecordsTheVersionedNameInTheUsersOrTheSystemRegistry) {
  const std::string user = m_dir.Path("user/registry"), system = m_dir.Path("system/registry");
  const std::string env =
      "QUOR_REGISTRY_FILE='" + user + "' QUOR_SYSTEM_REGISTRY_FILE='" + system + "'";
  const std::string server = std::string("'") + QUOR_SERVER_PATH + "'";
  const std::string versioned =
      (std::filesystem::canonical(std::filesystem::path(QUOR_SERVER_PATH).parent_path()) /
       "libquormediafiles.so.1")
          .string();
  ASSERT_EQ(Run("register " + server, env).status, 0);
  EXPECT_NE(Slurp(user).find("@=\"" + versioned + "\""), std::string::npos) << Slurp(user);
  EXPECT_FALSE(m_dir.Exists("system/registry"));
  ASSERT_EQ(Run("register --system " + server, env).status, 0);
  EXPECT_NE(Slurp(system).find("@=\"" + versioned + "\""), std::string::npos);
  ASSERT_EQ(Run("unregister " + server, env).status, 0);
  EXPECT_EQ(Slurp(user).find("InprocServer32"), std::string::npos);
  Expect("register " + Arg("none.so"), 2, "none.so", env);
}

TEST_F(QuorMfToolTest, DumpListsEveryBlockAndFlagsTheDamagedOne) {
  Record("--durable --index-period 1");
  const Json clean = RunJson("dump --json " + Arg("rec/cam1.qmf"));
  const Json& blocks = clean["blocks"];
  ASSERT_GE(blocks.size(), 5u);
  EXPECT_EQ(blocks.front()["type"], "file-info");
  EXPECT_EQ(blocks.front()["fields"]["fileset_index"], 1);
  EXPECT_EQ(blocks.back()["type"], "finalization");
  EXPECT_EQ(blocks.back()["file_hash_valid"], true);
  EXPECT_EQ(clean["clean_end"], true);
  std::uint64_t offset = 16;
  for (const Json& block : blocks) {
    EXPECT_EQ(block["offset"], offset);
    EXPECT_EQ(block["hash_valid"], true);
    EXPECT_EQ(block["index_in_sequence"], true);
    offset += block["size"].get<std::uint64_t>();
  }
  EXPECT_EQ(offset, m_dir.FileSize("rec/cam1.qmf"));

  m_dir.FlipByte("rec/cam1.qmf", blocks[4]["offset"].get<std::size_t>() + 20);
  const Json after = RunJson("dump --json " + Arg("rec/cam1.qmf"), 1);
  EXPECT_EQ(after["blocks"][4]["hash_valid"], false);
  EXPECT_EQ(after["blocks"][3]["hash_valid"], true);
  EXPECT_EQ(after["blocks"].back()["file_hash_valid"], true)
      << "the file hash covers the stored block hashes, which did not change";
}

// An empty file whose name sorts before the second member hides every later member from the
// reader: info and verify name them and the file that stopped the scan, and salvage recovers
// every sample into a new fileset that verifies and says where it came from.
TEST_F(QuorMfToolTest, MembersHiddenByAnEmptyNameAreNamedAndSalvaged) {
  Record();
  m_dir.WriteBytes("rec/cam0.qmf", {});
  const std::size_t members = MemberCount() - 1;

  const Json info = RunJson("info --json " + Fileset());
  const Json& directory = info["directory"];
  EXPECT_EQ(directory["files"].size(), members + 1);
  EXPECT_EQ(directory["scan_stopped_at"], m_dir.Path("rec/cam0.qmf"));
  EXPECT_EQ(directory["not_reached"].size(), members - 1);
  EXPECT_EQ(directory["files"][1]["kind"], "unreadable");
  EXPECT_EQ(directory["files"][1]["problem"], "empty file");

  Expect("verify " + Fileset(), 1,
         "cam2.qmf                     member #2, NOT REACHED: the reader's directory scan "
         "stopped at cam0.qmf (empty file)");

  const Json report = RunJson("salvage --json " + Fileset() + " " + Arg("saved/new.qmf"));
  EXPECT_EQ(report["output_authentic"], true);
  EXPECT_EQ(report["output_complete"], true);
  EXPECT_EQ(report["files"].size(), members);
  EXPECT_TRUE(report["lost"].empty()) << report["lost"];
  EXPECT_TRUE(m_dir.Exists("saved/new.salvage.json"));

  EXPECT_EQ(
      RunJson("info --json " + Arg("saved/new.qmf") + " -p " + kPassword)["fileset"]["description"],
      "salvaged from fileset " + info["fileset"]["guid"].get<std::string>() +
          " (cam.qmf): " + kDescription);
}

// One flipped bit of the last file's stored password hash: the reader refuses the right
// password; salvage takes the hash of any member that matches and loses nothing.
TEST_F(QuorMfToolTest, SalvageGetsPastADamagedPasswordHash) {
  Record();
  const std::string last = "rec/cam" + std::to_string(MemberCount() - 1) + ".qmf";
  const Json dump = RunJson("dump --json " + Arg(last));
  ASSERT_EQ(dump["blocks"][0]["type"], "file-info");
  // The password hash is the file info block's last own field, just before its 48 bytes of base
  // fields; its value is the 16 bytes before those.
  const std::size_t end =
      dump["blocks"][0]["offset"].get<std::size_t>() + dump["blocks"][0]["size"].get<std::size_t>();
  m_dir.FlipByte(last, end - 48 - 3);
  const RunResult open = Expect("info " + Fileset(), 2, "one of them is damaged");
  EXPECT_NE(open.err.find("or quormf salvage"), std::string::npos) << open.err;

  // Exit status 1: the damaged file info block is reported.
  const Json report = RunJson("salvage --json " + Fileset() + " " + Arg("saved/new.qmf"), 1);
  EXPECT_EQ(report["samples_written"], 225);
  EXPECT_EQ(report["output_authentic"], true);
}

// A payload byte flipped in one video sample and a size byte in another: samples lists every
// sample and marks both, extract skips them, info counts what samples lists.
TEST_F(QuorMfToolTest, DamagedSamplesAreListedMarkedAndSkipped) {
  Record();
  const Json dump = RunJson("dump --json " + Arg("rec/cam1.qmf"));
  std::vector<std::size_t> offsets;
  for (const Json& block : dump["blocks"]) {
    if (block["type"] == "media-sample" && block["size"] > 1000) offsets.push_back(block["offset"]);
  }
  ASSERT_GE(offsets.size(), 4u);
  m_dir.FlipByte("rec/cam1.qmf", offsets[1] + 100);  // payload: the block hash fails
  m_dir.FlipByte("rec/cam1.qmf", offsets[3] + 5);    // size word: the block does not read

  const std::size_t recorded = m_manifest["tracks"]["1"].size();
  const Json samples = RunJson("samples --json --track 1 " + Fileset(), 1);
  ASSERT_EQ(samples.size(), recorded);
  std::size_t damaged = 0, unreadable = 0;
  for (std::size_t i = 0; i < recorded; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(samples[i]["timestamp"], m_manifest["tracks"]["1"][i]["timestamp"]);
    if (samples[i].contains("block_hash_valid")) ++damaged;
    if (samples[i].contains("readable")) ++unreadable;
  }
  EXPECT_EQ(damaged, 2u);
  EXPECT_EQ(unreadable, 1u);

  Expect("extract --track 1 --out " + Arg("out") + " " + Fileset(), 1,
         std::to_string(recorded - 2) + " samples written");

  const Json info = RunJson("info --json " + Fileset());
  EXPECT_EQ(info["tracks"][0]["samples"], recorded);
  EXPECT_EQ(info["tracks"][0]["damaged_samples"], 2);
}

// A track without a sample the reader can reach is a negative answer, said on stderr.
TEST_F(QuorMfToolTest, SamplesOfATrackWithoutSamplesSaysSoAndExitsOne) {
  const std::string path = m_dir.Path("empty/e.qmf");
  Expect("record '" + path + "' --max-size 64 --max-files 2 --duration 0", 0);
  const RunResult samples =
      Expect("samples --track 1 '" + path + "'", 1, "track 1 of " + path + " has no sample");
  EXPECT_EQ(samples.out, "");
}

// The manifest lists what reached the files, whatever the writer dropped: samples too large for
// a member file, and those after the fileset filled up.
TEST_F(QuorMfToolTest, RecordManifestListsOnlyTheSamplesWritten) {
  const std::tuple<const char*, const char*, bool> kCases[] = {
      {"KeyFramesTooLarge", "--max-size 40 --max-files 50 --duration 4", false},
      {"FilesetFull", "--max-size 64 --max-files 2 --duration 4", true},
  };
  for (const auto& [name, limits, full] : kCases) {
    SCOPED_TRACE(name);
    const std::string path = m_dir.Path(std::string(name) + "/cam.qmf");
    const Json summary = RunJson("record --json '" + path + "' " + limits + " --manifest '" +
                                 m_dir.Path("m.json") + "'");
    ASSERT_TRUE(summary.contains("dropped")) << summary;
    EXPECT_GT(summary["dropped"].get<int>(), 0);
    EXPECT_EQ(summary["stopped_full"], full);
    const Json manifest = Json::parse(Slurp(m_dir.Path("m.json")))["tracks"];
    EXPECT_EQ(manifest["1"].size() + manifest["2"].size() + summary["dropped"].get<std::size_t>(),
              summary["samples"].get<std::size_t>());
    for (const char* track : {"1", "2"}) {
      SCOPED_TRACE(track);
      EXPECT_EQ(RunJson(std::string("samples --json --track ") + track + " '" + path + "'"),
                manifest[track]);
    }
  }
}

// Frames stored by presentation time: each track's timestamps go back within every group
// (0, 3, 1, 2, 6, 4, 5, ...). info counts, samples lists and extract writes every one of them.
TEST_F(QuorMfToolTest, TimestampsThatGoBackAreCountedListedAndExtractedAlike) {
  const std::string path = m_dir.Path("reordered/cam.qmf");
  std::vector<std::uint64_t> written;
  std::filesystem::create_directories(m_dir.Path("reordered"));
  {
    auto writer =
        quor::Writer::create(path, {.maxFileSizeKiB = 64, .maxFiles = 20},
                             {{.id = 1, .name = "camera", .video = true, .videoFormat = "H.264"}});
    for (std::uint64_t group = 0; group < 60; ++group) {
      const std::uint64_t base = group * 3 * 40000;
      for (std::uint64_t t : {base, base + 3 * 40000, base + 40000, base + 2 * 40000}) {
        if (group != 0 && t == base) continue;  // the previous group's last frame
        written.push_back(t);
      }
    }
    const Bytes payload(3000, 0x5A);
    for (std::uint64_t t : written) {
      using F = quor::SampleFlags;
      writer.write(1, t, (t % (30 * 40000) == 0 ? F::KeyFrame : F::NotKeyFrame) | F::Video,
                   std::span<const std::uint8_t>(payload));
    }
    writer.stop();
  }
  const std::string fileset = "'" + path + "'";
  EXPECT_EQ(RunJson("info --json " + fileset)["tracks"][0]["samples"], written.size());
  const Json listed = RunJson("samples --json --track 1 " + fileset);
  ASSERT_EQ(listed.size(), written.size());
  for (std::size_t i = 0; i < written.size(); ++i) EXPECT_EQ(listed[i]["timestamp"], written[i]);
  Expect("extract --track 1 --out " + Arg("out") + " " + fileset, 0,
         std::to_string(written.size()) + " samples written");
}

// Members and the directory's files come in fileset order, #10 after #9, not after #1.
TEST_F(QuorMfToolTest, ElevenMembersAreListedInFilesetOrder) {
  const std::string path = m_dir.Path("many/cam.qmf");
  Expect("record '" + path + "' --max-size 32 --max-files 20 --duration 2", 0);
  const RunResult info = Expect("info '" + path + "'", 0);
  std::size_t at = 0;
  for (int i = 0; i <= 10; ++i) {
    SCOPED_TRACE(i);
    const std::string member = "cam" + (i == 0 ? std::string() : std::to_string(i)) + ".qmf";
    const std::size_t listed = info.out.find("#" + std::to_string(i) + " ");
    const std::size_t inDirectory = info.out.find("  " + member + " ", info.out.find("directory"));
    ASSERT_NE(listed, std::string::npos) << info.out;
    ASSERT_NE(inDirectory, std::string::npos) << info.out;
    EXPECT_GT(inDirectory, at) << info.out;
    at = inDirectory;
  }
}

// SIGTERM (handled as Ctrl-C is) stops the recording in progress, which finalizes its fileset.
TEST_F(QuorMfToolTest, RecordOverwriteRemovesOldMembersAndRefusesARecordingInProgress) {
  Record();
  ASSERT_GE(MemberCount(), 3u);
  Expect(
      "record " + Arg("rec/cam.qmf") + " --max-size 128 --max-files 20 --duration 0.5 --overwrite",
      0);
  EXPECT_EQ(MemberCount(), 2u) << "the old fileset's later members are gone";
  EXPECT_EQ(Run("verify " + Arg("rec/cam.qmf")).status, 0);

  const std::string busy = m_dir.Path("busy/cam.qmf");
  const pid_t child = Spawn(std::string("exec '") + QUORMF_PATH + "' record '" + busy +
                            "' --max-size 256 --max-files 20 --duration 60 --realtime >/dev/null");
  ASSERT_GT(child, 0);
  // The recording holds its first member file locked from before its first sample on.
  const auto heldByChild = [&] {
    const int fd = ::open(busy.c_str(), O_RDONLY);
    const bool held = fd >= 0 && ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    if (fd >= 0) ::close(fd);
    return held;
  };
  for (int waited = 0; !heldByChild(); ++waited) {
    ASSERT_LT(waited, 1500) << "the recording never took its first member file";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Expect("record '" + busy + "' --max-size 128 --max-files 2 --duration 0.1 --overwrite", 2,
         "another process is recording into");
  ::kill(child, SIGTERM);
  EXPECT_EQ(Wait(child), 0);
  Expect("verify '" + busy + "'", 0, "fileset: AUTHENTIC, complete");
}

// The committed golden fileset reads as its committed info and samples say.
TEST_F(QuorMfToolTest, GoldenFilesetReadsAsCommitted) {
  const std::string golden = std::string(QUOR_SOURCE_DIR) + "/tests/golden/";
  const Json info = RunJson("info --json '" + golden + "golden.qmf'");
  const Json expected = Json::parse(Slurp(golden + "golden.info.json"));
  EXPECT_EQ(info["fileset"], expected["fileset"]);
  EXPECT_EQ(info["tracks"], expected["tracks"]);
  ASSERT_EQ(info["files"].size(), 2u);
  for (const char* track : {"1", "2"}) {
    SCOPED_TRACE(track);
    EXPECT_EQ(
        RunJson(std::string("samples --json --track ") + track + " '" + golden + "golden.qmf'"),
        Json::parse(Slurp(golden + "golden.samples" + track + ".json")));
  }
}

}  // namespace
