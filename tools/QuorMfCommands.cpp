#include "QuorMfCommands.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <system_error>

#include "QuorAuthenticator.h"
#include "QuorBlockWalker.h"
#include "QuorFileSetDiagnosisText.h"
#include "QuorFileSetReport.h"
#include "QuorSampleWalk.h"
#include "QuorToolText.h"
#include "format/QuorFormatLayout.h"
#include "platform/registry/QuorRegistryFile.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "seal/QuorSealKey.h"
#include "seal/QuorSealVerifier.h"
#include "storage/QuorFileStorage.h"

namespace {

using Json = nlohmann::ordered_json;

// The flags a sample listing shows: "key", "video", "audio".
std::vector<std::string> FlagWords(quor::SampleFlags flags) {
  using F = quor::SampleFlags;
  return quor::words(flags & (F::KeyFrame | F::Video | F::Audio));
}

Json ToJson(std::uint64_t timestamp, quor::SampleFlags flags,
            std::span<const std::uint8_t> payload) {
  Json j;
  j["timestamp"] = timestamp;
  j["flags"] = FlagWords(flags);
  j["size"] = payload.size();
  j["md5"] = QuorPayloadMd5(payload);
  return j;
}

std::string SampleLine(const QuorSampleRecord& s) {
  char line[200];
  if (!s.readable) {
    std::snprintf(line, sizeof line, "%12llu  UNREADABLE: the reader cannot read this sample",
                  static_cast<unsigned long long>(s.timestamp));
    return line;
  }
  std::snprintf(line, sizeof line, "%12llu  %-15s %8zu  %s%s",
                static_cast<unsigned long long>(s.timestamp),
                QuorJoin(FlagWords(s.flags), ",").c_str(), s.payload.size(),
                QuorPayloadMd5(s.payload).c_str(), s.hashValid ? "" : "  FAILS ITS BLOCK HASH");
  return line;
}

// The verdict of one member file after authentication.
const char* Verdict(ULONG flags) {
  const auto status = static_cast<quor::FileStatus>(flags);
  if (!quor::has(status, quor::FileStatus::Tested)) return "not tested";
  return quor::has(status, quor::FileStatus::Authentic) ? "authentic" : "NOT authentic";
}

// Where the damage of a file that failed authentication lies, found by walking its blocks.
std::string Diagnose(const std::string& path, Json* json) {
  std::optional<QuorFirstDamage> damage;
  QuorCheck(QuorFindFirstDamage(path, &damage), "walking " + path);
  if (!damage) {
    (*json)["damaged_block"] = nullptr;
    return "its own blocks are intact: the block index chain broke in an earlier file";
  }
  const QuorFirstDamage& d = *damage;
  if (d.bytesSkipped != 0) {
    (*json)["damaged_block"] = {
        {"offset", d.offset}, {"problem", d.problem}, {"bytes_skipped", d.bytesSkipped}};
  } else if (d.type != 0) {
    (*json)["damaged_block"] = {{"block_index", d.blockIndex ? Json(*d.blockIndex) : Json()},
                                {"offset", d.offset},
                                {"type", QuorBlockTypeName(d.type)},
                                {"problem", d.problem}};
    const std::string index = d.blockIndex ? std::to_string(*d.blockIndex) : "?";
    return "block " + index + " (" + QuorBlockTypeName(d.type) + " at offset " +
           std::to_string(d.offset) + ") " + d.problem;
  } else {
    (*json)["damaged_block"] = {{"offset", d.offset}, {"problem", d.problem}};
  }
  return d.problem + " at offset " + std::to_string(d.offset);
}

// As QuorBlockRecord, only the JSON member's destructor could throw, and only out of memory.
// NOLINTNEXTLINE(bugprone-exception-escape)
struct VerifyOutcome {
  QuorAuthenticationResult result;
  Json json;
  std::vector<std::string> lines;
};

// key (optional): the seals are checked in the same read.
VerifyOutcome Verify(IQuorMediaFileReader* reader, bool showProgress,
                     const CQuorSealKey* key = nullptr) {
  VerifyOutcome outcome;
  CQuorAuthenticator authenticator(reader, showProgress);
  outcome.result = authenticator.Run(key);
  outcome.json["authentic"] = outcome.result.authentic;
  outcome.json["complete"] = outcome.result.complete;
  outcome.json["files"] = Json::array();
  for (const QuorMemberFileReport& file : outcome.result.files) {
    Json j = QuorToJson(file);
    j["verdict"] = Verdict(file.flags);
    std::string line = "  #" + std::to_string(file.filesetIndex) + " " + QuorBaseName(file.name) +
                       ": " + Verdict(file.flags);
    const auto status = static_cast<quor::FileStatus>(file.flags);
    if (quor::has(status, quor::FileStatus::Tested) &&
        !quor::has(status, quor::FileStatus::Authentic)) {
      const std::string reason = Diagnose(file.name, &j);
      j["reason"] = reason;
      line += " - " + reason;
    }
    outcome.lines.push_back(line);
    outcome.json["files"].push_back(j);
  }
  return outcome;
}

// The lines of each file, what the directory holds when a diagnosis is given, then the verdict.
void PrintVerdict(const VerifyOutcome& outcome, const CQuorFileSetDiagnosis* diagnosis = nullptr) {
  for (const std::string& line : outcome.lines) std::printf("%s\n", line.c_str());
  if (diagnosis) QuorPrintDiagnosis(*diagnosis);
  std::printf("fileset: %s, %s\n", outcome.result.authentic ? "AUTHENTIC" : "NOT AUTHENTIC",
              outcome.result.complete ? "complete" : "INCOMPLETE");
}

void PrintJson(const Json& j) { std::printf("%s\n", j.dump(2).c_str()); }

// The public key in keyPath (PEM); not loaded when keyPath is empty.
void LoadKey(const std::string& keyPath, CQuorSealKey* key) {
  if (keyPath.empty()) return;
  QuorMessage<> message = kQuorNoMessage;
  if (const HRESULT hr = key->LoadPublic(keyPath, &message); FAILED(hr)) {
    throw CQuorError(hr, "LoadPublic", message.Text());
  }
}

// Adds a line per member file about its seals: as checked with a key (by Verify), or, without
// one, counted and left unchecked. True when a key was given and every file is sealed to its
// end, or no key was given.
bool CheckSeals(bool keyGiven, VerifyOutcome* outcome) {
  bool sealed = true;
  std::size_t i = 0;
  for (const QuorMemberFileReport& file : outcome->result.files) {
    Json& j = outcome->json["files"][i];
    const std::string head =
        "  #" + std::to_string(file.filesetIndex) + " " + QuorBaseName(file.name) + ": ";
    if (!keyGiven) {
      if (const std::uint32_t records = QuorCountSealRecords(file.name); records != 0) {
        outcome->lines.push_back(head + std::to_string(records) +
                                 " seal records found, not checked (no --key)");
        j["seal_records"] = records;
      }
      ++i;
      continue;
    }
    const QuorSealReport& report = outcome->result.seals[i++];
    sealed = sealed && report.SealedToEnd();
    outcome->lines.push_back(head + "seal: " + report.Describe());
    j["seal"] = {{"state", static_cast<unsigned>(report.state)},
                 {"sealed_to_end", report.SealedToEnd()},
                 {"description", report.Describe()}};
  }
  if (keyGiven) outcome->json["sealed"] = sealed;
  return sealed;
}

}  // namespace

int QuorRunInfo(const QuorOpenArgs& args) {
  const CQuorFileSetDiagnosis diagnosis = QuorDiagnose(args.file);
  const quor::Reader reader = QuorOpenReader(args.file, args.password, diagnosis);
  const QuorFileSetReport report = QuorReportFileSet(reader);
  if (args.json) {
    Json j = QuorToJson(report);
    j["directory"] = QuorToJson(diagnosis);
    PrintJson(j);
  } else {
    QuorPrintReport(report);
    QuorPrintDiagnosis(diagnosis);
  }
  return 0;
}

int QuorRunVerify(const QuorOpenArgs& args) {
  const CQuorFileSetDiagnosis diagnosis = QuorDiagnose(args.file);
  auto reader = QuorOpenExplained(args.file, args.password, diagnosis);
  CQuorSealKey key;
  LoadKey(args.key, &key);
  VerifyOutcome outcome =
      Verify(reader.Get(), QuorStderrIsTerminal(), args.key.empty() ? nullptr : &key);
  // Members the reader did not reach leave the fileset incomplete, however it answered.
  bool unreached = !diagnosis.m_missingIndexes.empty();
  for (const QuorCandidateFile* member : diagnosis.Members()) unreached |= !member->reached;
  if (unreached) outcome.result.complete = false;
  outcome.json["complete"] = outcome.result.complete;
  const bool sealed = CheckSeals(!args.key.empty(), &outcome);
  if (args.json) {
    outcome.json["directory"] = QuorToJson(diagnosis);
    PrintJson(outcome.json);
  } else {
    PrintVerdict(outcome, &diagnosis);
    if (!args.key.empty()) {
      std::printf("seals: %s\n", sealed ? "every file sealed to its end" : "NOT SEALED TO THE END");
    }
  }
  return outcome.result.authentic && outcome.result.complete && sealed ? 0 : 1;
}

int QuorRunKeygen(const std::string& path) {
  CQuorSealKey key;
  QuorCheck(key.Generate(), "Generate");
  QuorCheck(key.WritePair(path), "WritePair");
  std::printf("private key: %s (mode 0600)\npublic key:  %s.pub\n", path.c_str(), path.c_str());
  return 0;
}

int QuorRunSalvage(const std::string& source, const std::string& target,
                   const std::string& password, bool json) {
  const std::filesystem::path parent = std::filesystem::path(target).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent);
  QuorSalvageReport report;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const HRESULT hr = CQuorFileSetSalvage::Run(source, target, password, &report);
  const Clock::time_point salvaged = Clock::now();
  if (FAILED(hr)) {
    throw CQuorError(hr, "salvage", "cannot salvage the fileset of " + source + " into " + target);
  }
  Json j = QuorToJson(report);
  j["output"] = target;
  auto output = QuorOpenFileSet(target, password);
  const VerifyOutcome check = Verify(output.Get(), false);
  j["output_authentic"] = check.result.authentic;
  j["output_complete"] = check.result.complete;
  const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
  j["seconds"] = {{"salvage", seconds(salvaged - start)},
                  {"verifying_output", seconds(Clock::now() - salvaged)}};
  std::filesystem::path reportPath = target;
  reportPath.replace_extension(".salvage.json");
  {
    std::ofstream out(reportPath);
    out << j.dump(1) << '\n';
    if (!out)
      throw std::system_error(errno, std::generic_category(), "writing " + reportPath.string());
  }
  if (json) {
    PrintJson(j);
  } else {
    std::printf("salvaged %llu samples (%s of payload) from %zu member file%s of fileset %s\n",
                static_cast<unsigned long long>(report.samplesWritten),
                QuorByteCount(report.payloadBytes).c_str(), report.files.size(),
                report.files.size() == 1 ? "" : "s", report.sourceGuid.c_str());
    for (const QuorSalvagedFile& f : report.files) {
      std::printf("  #%-3s %-28s %llu samples taken; %s\n",
                  f.filesetIndex ? std::to_string(*f.filesetIndex).c_str() : "?",
                  QuorBaseName(f.file).c_str(), static_cast<unsigned long long>(f.samples),
                  f.end.c_str());
    }
    for (const QuorSalvageLoss& l : report.lost) {
      std::printf("  lost: %s at offset %llu: %s\n", QuorBaseName(l.file).c_str(),
                  static_cast<unsigned long long>(l.offset), l.reason.c_str());
    }
    std::printf("new fileset %s: %s, %s\nreport: %s\n", target.c_str(),
                check.result.authentic ? "authentic" : "NOT AUTHENTIC",
                check.result.complete ? "complete" : "INCOMPLETE", reportPath.c_str());
  }
  if (!check.result.authentic || !check.result.complete) return 2;
  return report.lost.empty() ? 0 : 1;
}

namespace {

// The fileset of args opened for listing the samples of range's track, with the check of their
// blocks; an unknown track is refused in words.
struct SampleSource {
  quor::Reader reader;
  CQuorSampleCheck check;

  SampleSource(const QuorOpenArgs& args, const QuorSampleRange& range)
      : reader(QuorOpenReader(args.file, args.password, QuorDiagnose(args.file))) {
    std::vector<std::uint32_t> ids;
    try {
      ids = reader.trackIds();
    } catch (const quor::Error& e) {
      if (e.code() != MFS_E_NO_VALUE) throw;  // else a fileset without tracks
    }
    if (std::find(ids.begin(), ids.end(), range.trackId) == ids.end()) {
      std::string known;
      for (std::uint32_t id : ids) known += (known.empty() ? "" : ", ") + std::to_string(id);
      throw std::runtime_error("track " + std::to_string(range.trackId) +
                               " is not in the fileset of " + args.file +
                               " (its tracks: " + (known.empty() ? "none" : known) +
                               "): " + QuorResultCodeText(E_INVALIDARG));
    }
    QuorLoadSampleCheck(reader, &check);
  }
};

}  // namespace

int QuorRunSamples(const QuorOpenArgs& args, const QuorSampleRange& range) {
  SampleSource source(args, range);
  Json samples = Json::array();
  bool damaged = false;
  std::uint64_t listed = 0;
  QuorForEachSample(source.reader, source.check, range, [&](const QuorSampleRecord& s) {
    ++listed;
    damaged |= !s.hashValid;
    if (args.json) {
      Json j = ToJson(s.timestamp, s.flags, s.payload);
      // Only damaged samples carry the verdict, so that intact ones compare with a manifest.
      if (!s.readable) j = Json{{"timestamp", s.timestamp}, {"readable", false}};
      if (!s.hashValid) j["block_hash_valid"] = false;
      samples.push_back(j);
    } else {
      std::printf("%s\n", SampleLine(s).c_str());
    }
  });
  if (args.json) PrintJson(samples);
  if (listed == 0) {
    std::fflush(stdout);
    if (!source.reader.track(range.trackId, quor::TrackDetail::Metadata).firstTimestamp) {
      std::fprintf(stderr,
                   "track %u of %s has no sample the reader can reach: none was recorded, or no "
                   "index block lists one\n",
                   static_cast<unsigned>(range.trackId), args.file.c_str());
      return 1;
    }
    std::fprintf(stderr, "no sample of track %u lies in the range\n",
                 static_cast<unsigned>(range.trackId));
  }
  return damaged ? 1 : 0;
}

int QuorRunExtract(const QuorOpenArgs& args, const QuorSampleRange& range,
                   const std::string& outDirectory, bool toStdout, bool includeDamaged) {
  SampleSource source(args, range);
  if (!toStdout) std::filesystem::create_directories(outDirectory);
  ULONGLONG count = 0;
  std::vector<ULONGLONG> skipped;
  QuorForEachSample(source.reader, source.check, range, [&](const QuorSampleRecord& s) {
    if (!s.readable || (!s.hashValid && !includeDamaged)) {
      skipped.push_back(s.timestamp);
      return;
    }
    if (toStdout) {
      if (std::fwrite(s.payload.data(), 1, s.payload.size(), stdout) != s.payload.size()) {
        throw std::system_error(errno, std::generic_category(), "writing to stdout");
      }
    } else {
      char name[64];
      std::snprintf(name, sizeof name, "track%u_%020llu.bin", static_cast<unsigned>(range.trackId),
                    static_cast<unsigned long long>(s.timestamp));
      const std::filesystem::path path = std::filesystem::path(outDirectory) / name;
      std::ofstream out(path, std::ios::binary);
      out.write(reinterpret_cast<const char*>(s.payload.data()),
                static_cast<std::streamsize>(s.payload.size()));
      if (!out) throw std::system_error(errno, std::generic_category(), "writing " + path.string());
    }
    ++count;
  });
  for (ULONGLONG timestamp : skipped) {
    std::fprintf(stderr, "skipped the sample at %llu: it fails its block hash or cannot be read\n",
                 static_cast<unsigned long long>(timestamp));
  }
  if (!toStdout) {
    std::printf("%llu samples written to %s\n", static_cast<unsigned long long>(count),
                outDirectory.c_str());
  }
  return skipped.empty() ? 0 : 1;
}

int QuorRunRegister(const std::string& module, bool system, bool unregister) {
  // The runtime writes the file QUOR_REGISTRY_FILE names; the system-wide file is made that.
  if (system && ::setenv("QUOR_REGISTRY_FILE", CQuorRegistryFile::SystemPath().c_str(), 1) != 0) {
    throw CQuorError(E_OUTOFMEMORY, "setenv", "the system registry cannot be chosen");
  }
  void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    throw CQuorError(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), "dlopen",
                     module + ": " + (why ? why : "cannot be loaded"));
  }
  const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  using Entry = HRESULT (*)();
  const auto entry = reinterpret_cast<Entry>(::dlsym(handle, entryName));
  if (entry == nullptr) {
    throw CQuorError(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), entryName,
                     module + " is not a component server");
  }
  QuorCheck(entry(), entryName);
  std::printf("%s %s %s %s\n", unregister ? "unregistered" : "registered", module.c_str(),
              unregister ? "from" : "in", CQuorRegistryFile::DefaultPath().c_str());
  // The module stays loaded until the process ends: its objects may still be in use.
  return 0;
}

int QuorRunDump(const std::string& memberFile, bool json) {
  QuorRefuseNonRegularFile(memberFile);
  const QuorBlockWalk walk = QuorWalkBlocks(memberFile);
  if (json) {
    PrintJson(QuorToJson(walk));
  } else {
    QuorPrintWalk(memberFile, walk);
  }
  return walk.forward.cleanEnd && walk.FirstDamaged() == nullptr ? 0 : 1;
}

int QuorRunRecord(const QuorRecordOptions& options, const std::string& manifest, bool json) {
  const std::filesystem::path parent = std::filesystem::path(options.path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent);
  CQuorRecorder recorder(options);
  std::map<ULONG, Json> written;
  if (!manifest.empty()) {
    recorder.OnSample([&](const QuorSyntheticSample& s) {
      written[s.trackId].push_back(ToJson(s.timestamp, QuorFlagsOf(s), s.payload));
    });
  }
  const bool progress = !json && QuorStderrIsTerminal();
  if (progress) recorder.OnProgress([](unsigned p) { QuorDrawProgress("recording", p); });
  const QuorRecordResult result = recorder.Record();
  if (progress) QuorClearProgress();

  if (!manifest.empty()) {
    Json tracks = Json::object();
    for (auto& [id, samples] : written) tracks[std::to_string(id)] = samples;
    std::ofstream out(manifest);
    out << Json{{"tracks", tracks}}.dump(1) << '\n';
    if (!out) throw std::system_error(errno, std::generic_category(), "writing " + manifest);
  }
  if (json) {
    PrintJson(Json{{"samples", result.samplesWritten},
                   {"dropped", result.samplesDropped},
                   {"payload_bytes", result.payloadBytes},
                   {"bytes_on_disk", result.bytesOnDisk},
                   {"files", result.filesWritten},
                   {"stopped_full", result.stoppedFull},
                   {"interrupted", result.interrupted}});
  } else {
    std::printf(
        "handed %llu samples (%s of payload) to the writer: %u member file%s, %s on disk%s\n",
        static_cast<unsigned long long>(result.samplesWritten),
        QuorByteCount(result.payloadBytes).c_str(), static_cast<unsigned>(result.filesWritten),
        result.filesWritten == 1 ? "" : "s", QuorByteCount(result.bytesOnDisk).c_str(),
        result.stoppedFull   ? "\nthe fileset filled up: the writer ended the recording there and "
                               "dropped the samples queued after that"
        : result.interrupted ? "\ninterrupted: the recording was stopped and finalized there"
                             : "");
    if (result.samplesDropped != 0) {
      std::printf(
          "%llu of them in no file: too large for a member file, or after the fileset "
          "or the disk filled up\n",
          static_cast<unsigned long long>(result.samplesDropped));
    }
  }
  return 0;
}

namespace {

// The demo's fileset: long enough to roll over into several member files.
constexpr double kDemoSeconds = 8.0;
constexpr ULONG kDemoMaxSizeKiB = 384;
constexpr ULONG kDemoMaxFiles = 16;
constexpr const char* kDemoPassword = "demo";
constexpr const char* kDemoDescription = "quormf demo: synthetic camera and microphone";
constexpr std::size_t kDemoDamagedFile = 2;

void Heading(const char* text) { std::printf("\n== %s\n", text); }

std::filesystem::path DemoDirectory(const std::string& requested) {
  if (!requested.empty()) {
    std::filesystem::create_directories(requested);
    return requested;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "quormf-demo-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "creating " + pattern);
  }
  return pattern;
}

void ShowSteps(const quor::Reader& reader, std::uint32_t trackId) {
  const quor::TrackInfo track = reader.track(trackId);
  if (!track.firstTimestamp || !track.lastTimestamp) return;
  // Between two frames on purpose.
  const std::uint64_t middle =
      *track.firstTimestamp + (*track.lastTimestamp - *track.firstTimestamp) / 2 + 10;
  const auto show = [](const std::string& call, const std::optional<quor::Sample>& sample) {
    if (sample)
      std::printf("  %-16s %s\n", call.c_str(), SampleLine(QuorRecordOf(*sample)).c_str());
    return sample.has_value();
  };
  (void)show("MoveTo(" + std::to_string(middle) + ")", reader.moveTo(trackId, middle));
  for (int i = 0; i < 3; ++i) {
    if (!show("MoveNext", reader.next(trackId))) return;
  }
  (void)show("MovePrevious", reader.previous(trackId));
}

// Copies the member files to directory/damaged and flips one payload byte in the middle media
// sample block of one of them (victim); returns the copy's first member file.
std::filesystem::path MakeDamagedCopy(const std::vector<quor::MemberFile>& files,
                                      const std::filesystem::path& directory,
                                      std::filesystem::path* victimPath) {
  const std::filesystem::path copyDirectory = directory / "damaged";
  std::filesystem::create_directories(copyDirectory);
  std::vector<std::filesystem::path> copies;
  for (const quor::MemberFile& file : files) {
    copies.push_back(copyDirectory / std::filesystem::path(file.name).filename());
    std::filesystem::copy_file(file.name, copies.back(),
                               std::filesystem::copy_options::overwrite_existing);
  }
  const std::filesystem::path victim = copies.at(std::min(kDemoDamagedFile, copies.size() - 1));
  *victimPath = victim;
  const QuorBlockWalk walk = QuorWalkBlocks(victim.string());
  std::vector<const QuorBlockRecord*> samples;
  for (const QuorBlockRecord& block : walk.blocks) {
    if (block.type == btMediaSample) samples.push_back(&block);
  }
  if (samples.empty()) throw std::runtime_error("no media sample block to damage");
  const QuorBlockRecord& target = *samples[samples.size() / 2];
  // Inside the payload: past the block header and the payload field's header.
  const ULONGLONG offset = target.offset + 8 + 8 + (target.size - 64) / 2;
  std::fstream file(victim, std::ios::in | std::ios::out | std::ios::binary);
  file.seekg(static_cast<std::streamoff>(offset));
  char byte = 0;
  file.read(&byte, 1);
  byte = static_cast<char>(byte ^ 0x01);
  file.seekp(static_cast<std::streamoff>(offset));
  file.write(&byte, 1);
  if (!file) throw std::system_error(errno, std::generic_category(), "damaging " + victim.string());
  std::printf("  flipped one bit of the byte at offset %llu of damaged/%s\n",
              static_cast<unsigned long long>(offset), victim.filename().c_str());
  std::printf("  (inside block %u, a media sample of %u bytes)\n",
              target.blockIndex ? static_cast<unsigned>(*target.blockIndex) : 0u,
              static_cast<unsigned>(target.size));
  return copies.front();
}

}  // namespace

int QuorRunDemo(const std::string& requestedDirectory) {
  const bool progress = QuorStderrIsTerminal();
  const std::filesystem::path directory = DemoDirectory(requestedDirectory);
  const std::string fileset = (directory / "demo.qmf").string();

  Heading("1. Recording");
  std::printf(
      "  %.0f s of a synthetic camera (25 fps, a key frame every second) and microphone\n"
      "  (50 fps) into %s, at most %u KiB per member file,\n"
      "  password \"%s\"\n",
      kDemoSeconds, fileset.c_str(), static_cast<unsigned>(kDemoMaxSizeKiB), kDemoPassword);
  QuorRecordOptions options;
  options.path = fileset;
  options.maxSizeKiB = kDemoMaxSizeKiB;
  options.maxFiles = kDemoMaxFiles;
  options.overwrite = true;
  options.password = kDemoPassword;
  options.description = kDemoDescription;
  options.durationSeconds = kDemoSeconds;
  CQuorRecorder recorder(options);
  if (progress) recorder.OnProgress([](unsigned p) { QuorDrawProgress("  recording", p); });
  const QuorRecordResult recorded = recorder.Record();
  if (progress) QuorClearProgress();
  std::printf("  recorded %llu samples into %u member files, %s on disk\n",
              static_cast<unsigned long long>(recorded.samplesWritten),
              static_cast<unsigned>(recorded.filesWritten),
              QuorByteCount(recorded.bytesOnDisk).c_str());

  Heading("2. Opening it: quormf info");
  const quor::Reader reader = quor::Reader::open(fileset, kDemoPassword);
  const QuorFileSetReport report = QuorReportFileSet(reader);
  QuorPrintReport(report);

  Heading("3. Seeking to the middle of the camera track and stepping");
  std::printf("  %-16s %12s  %-15s %8s  %s\n", "call", "timestamp", "flags", "size", "payload md5");
  ShowSteps(reader, kQuorVideoTrackId);

  Heading("4. Authenticating: quormf verify");
  // Authentication with the tool's progress bar and Ctrl-C goes through the reader object.
  auto object = QuorOpenFileSet(fileset, kDemoPassword);
  const VerifyOutcome intact = Verify(object.Get(), progress);
  PrintVerdict(intact);

  Heading("5. Damaging a copy and authenticating it again");
  std::filesystem::path victim;
  const std::filesystem::path copy = MakeDamagedCopy(report.fileset.files, directory, &victim);
  auto damagedReader = QuorOpenFileSet(copy.string(), kDemoPassword);
  const VerifyOutcome damaged = Verify(damagedReader.Get(), progress);
  PrintVerdict(damaged);

  // This program by the path it runs from and absolute paths, quoted for the shell, so that the
  // lines run from any directory without quormf on the PATH.
  std::error_code error;
  std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
  if (error) self = "quormf";
  const auto shell = [](const std::filesystem::path& path) {
    std::string text = std::filesystem::absolute(path).string();
    if (text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                               "_./+-") == std::string::npos) {
      return text;
    }
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
  };
  const std::string set = shell(fileset);
  const std::string me = shell(self);
  std::printf("\nThe fileset is in %s. Try:\n", directory.c_str());
  std::printf("  %s info %s -p %s\n", me.c_str(), set.c_str(), kDemoPassword);
  std::printf("  %s samples %s -p %s --track 2 --from 1000000 --to 1100000\n", me.c_str(),
              set.c_str(), kDemoPassword);
  std::printf("  %s dump %s\n", me.c_str(), shell(victim).c_str());
  std::printf("  %s salvage %s %s -p %s\n", me.c_str(), shell(copy).c_str(),
              shell(directory / "salvaged" / "demo.qmf").c_str(), kDemoPassword);
  const bool asExpected = intact.result.authentic && !damaged.result.authentic;
  return asExpected ? 0 : 1;
}
