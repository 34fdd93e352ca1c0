#include "QuorMfCommands.h"

#include <dlfcn.h>
#include <stdlib.h>

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
#include "QuorFileSetReport.h"
#include "QuorToolText.h"
#include "format/QuorFormatLayout.h"
#include "platform/QuorRegistryFile.h"
#include "quormediafiles/QuorMediaFilesCpp.h"

namespace {

using Json = nlohmann::ordered_json;

struct SampleRecord {
  ULONGLONG timestamp = 0;
  bool keyFrame = false;
  bool video = false;
  bool audio = false;
  std::vector<std::uint8_t> payload;
};

Json ToJson(ULONGLONG timestamp, bool key, bool video, bool audio,
            std::span<const std::uint8_t> payload) {
  Json j;
  j["timestamp"] = timestamp;
  j["flags"] = QuorSampleFlagWords(key, video, audio);
  j["size"] = payload.size();
  j["md5"] = QuorPayloadMd5(payload);
  return j;
}

std::string SampleLine(const SampleRecord& s) {
  char line[160];
  std::snprintf(line, sizeof line, "%12llu  %-15s %8zu  %s",
                static_cast<unsigned long long>(s.timestamp),
                QuorJoin(QuorSampleFlagWords(s.keyFrame, s.video, s.audio), ",").c_str(),
                s.payload.size(), QuorPayloadMd5(s.payload).c_str());
  return line;
}

SampleRecord ReadSample(IQuorMediaFileSample* sample) {
  SampleRecord record;
  QuorCheck(sample->GetTimestamp(&record.timestamp), "GetTimestamp");
  VARIANT_BOOL key = VARIANT_FALSE, video = VARIANT_FALSE, audio = VARIANT_FALSE;
  QuorCheck(sample->GetFlags(&key, &video, &audio), "GetFlags");
  record.keyFrame = QuorIsTrue(key);
  record.video = QuorIsTrue(video);
  record.audio = QuorIsTrue(audio);
  CQuorSafeArray payload;
  const HRESULT hr = sample->GetPayloadData(payload.AddressOf());
  if (hr != MFS_E_NO_VALUE) QuorCheck(hr, "GetPayloadData");
  record.payload = QuorBytes(payload.Get());
  return record;
}

// Steps with move (MoveNext or MovePrevious); false at the end of the track.
bool Step(const std::function<HRESULT(IQuorMediaFileSample**)>& move,
          CQuorComPtr<IQuorMediaFileSample>* sample) {
  const HRESULT hr = move(sample->AddressOf());
  if (hr == MFS_E_NO_VALUE) {
    (void)QuorTakeErrorDescription();  // (void): the end of the track is an answer
    return false;
  }
  QuorCheck(hr, "Move");
  return true;
}

// Calls visit for each sample of the range in timestamp order.
void ForEachSample(IQuorMediaFileReader* reader, const QuorSampleRange& range,
                   const std::function<void(const SampleRecord&)>& visit) {
  ULONGLONG first = 0;
  ULONGLONG last = 0;
  QuorCheck(reader->GetFirstTimeStamp(range.trackId, &first), "GetFirstTimeStamp");
  QuorCheck(reader->GetLastTimeStamp(range.trackId, &last), "GetLastTimeStamp");
  const ULONGLONG from = std::max(first, range.from.value_or(first));
  const ULONGLONG to = range.to.value_or(last);
  if (from > to || from > last) return;

  CQuorComPtr<IQuorMediaFileSample> sample;
  QuorCheck(reader->MoveTo(range.trackId, from, sample.AddressOf()), "MoveTo");
  SampleRecord record = ReadSample(sample.Get());
  // MoveTo answers the sample at or just before from.
  while (record.timestamp < from) {
    if (!Step([&](IQuorMediaFileSample** p) { return reader->MoveNext(range.trackId, p); },
              &sample)) {
      return;
    }
    record = ReadSample(sample.Get());
  }
  while (record.timestamp <= to) {
    visit(record);
    if (!Step([&](IQuorMediaFileSample** p) { return reader->MoveNext(range.trackId, p); },
              &sample)) {
      return;
    }
    record = ReadSample(sample.Get());
  }
}

// The verdict of one member file after authentication.
const char* Verdict(ULONG flags) {
  if ((flags & kQuorStatusTested) == 0) return "not tested";
  return (flags & kQuorStatusAuthentic) != 0 ? "authentic" : "NOT authentic";
}

// Where the damage of a file that failed authentication lies, found by walking its blocks.
std::string Diagnose(const std::string& path, Json* json) {
  CQuorBlockWalker walker;
  const QuorBlockWalk walk = walker.Walk(path);
  if (const QuorBlockRecord* bad = walk.FirstDamaged()) {
    const char* problem = !bad->hashValid         ? "fails its block hash check"
                          : !bad->indexInSequence ? "breaks the block index sequence"
                                                  : "holds a file hash that does not match";
    const std::string index = bad->blockIndex ? std::to_string(*bad->blockIndex) : "?";
    (*json)["damaged_block"] = {{"block_index", bad->blockIndex ? Json(*bad->blockIndex) : Json()},
                                {"offset", bad->offset},
                                {"type", QuorBlockTypeName(bad->type)},
                                {"problem", problem}};
    return "block " + index + " (" + QuorBlockTypeName(bad->type) + " at offset " +
           std::to_string(bad->offset) + ") " + problem;
  }
  if (!walk.cleanEnd) {
    (*json)["damaged_block"] = {{"offset", walk.endOffset}, {"problem", walk.end}};
    return walk.end + " at offset " + std::to_string(walk.endOffset);
  }
  (*json)["damaged_block"] = nullptr;
  return "its own blocks are intact: the block index chain broke in an earlier file";
}

struct VerifyOutcome {
  QuorAuthenticationResult result;
  Json json;
  std::vector<std::string> lines;
};

VerifyOutcome Verify(IQuorMediaFileReader* reader, bool showProgress) {
  VerifyOutcome outcome;
  CQuorAuthenticator authenticator(reader, showProgress);
  outcome.result = authenticator.Run();
  outcome.json["authentic"] = outcome.result.authentic;
  outcome.json["complete"] = outcome.result.complete;
  outcome.json["files"] = Json::array();
  for (const QuorMemberFileReport& file : outcome.result.files) {
    Json j = QuorToJson(file);
    j["verdict"] = Verdict(file.flags);
    std::string line = "  #" + std::to_string(file.filesetIndex) + " " + QuorBaseName(file.name) +
                       ": " + Verdict(file.flags);
    if ((file.flags & kQuorStatusTested) != 0 && (file.flags & kQuorStatusAuthentic) == 0) {
      line += " - " + Diagnose(file.name, &j);
    }
    outcome.lines.push_back(line);
    outcome.json["files"].push_back(j);
  }
  return outcome;
}

void PrintVerdict(const VerifyOutcome& outcome) {
  for (const std::string& line : outcome.lines) std::printf("%s\n", line.c_str());
  std::printf("fileset: %s, %s\n", outcome.result.authentic ? "AUTHENTIC" : "NOT AUTHENTIC",
              outcome.result.complete ? "complete" : "INCOMPLETE");
}

void PrintJson(const Json& j) { std::printf("%s\n", j.dump(2).c_str()); }

}  // namespace

int QuorRunInfo(const QuorOpenArgs& args) {
  auto reader = QuorOpenFileSet(args.file, args.password);
  const QuorFileSetReport report = QuorReportFileSet(reader.Get(), true);
  if (args.json) {
    PrintJson(QuorToJson(report));
  } else {
    QuorPrintReport(report);
  }
  return 0;
}

int QuorRunVerify(const QuorOpenArgs& args) {
  auto reader = QuorOpenFileSet(args.file, args.password);
  const VerifyOutcome outcome = Verify(reader.Get(), QuorStderrIsTerminal());
  if (args.json) {
    PrintJson(outcome.json);
  } else {
    PrintVerdict(outcome);
  }
  return outcome.result.authentic && outcome.result.complete ? 0 : 1;
}

int QuorRunSamples(const QuorOpenArgs& args, const QuorSampleRange& range) {
  auto reader = QuorOpenFileSet(args.file, args.password);
  Json samples = Json::array();
  ForEachSample(reader.Get(), range, [&](const SampleRecord& s) {
    if (args.json) {
      samples.push_back(ToJson(s.timestamp, s.keyFrame, s.video, s.audio, s.payload));
    } else {
      std::printf("%s\n", SampleLine(s).c_str());
    }
  });
  if (args.json) PrintJson(samples);
  return 0;
}

int QuorRunExtract(const QuorOpenArgs& args, const QuorSampleRange& range,
                   const std::string& outDirectory, bool toStdout) {
  auto reader = QuorOpenFileSet(args.file, args.password);
  if (!toStdout) std::filesystem::create_directories(outDirectory);
  ULONGLONG count = 0;
  ForEachSample(reader.Get(), range, [&](const SampleRecord& s) {
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
  if (!toStdout) {
    std::printf("%llu samples written to %s\n", static_cast<unsigned long long>(count),
                outDirectory.c_str());
  }
  return 0;
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
  CQuorBlockWalker walker;
  const QuorBlockWalk walk = walker.Walk(memberFile);
  if (json) {
    PrintJson(QuorToJson(walk));
  } else {
    QuorPrintWalk(memberFile, walk);
  }
  return walk.cleanEnd && walk.FirstDamaged() == nullptr ? 0 : 1;
}

int QuorRunRecord(const QuorRecordOptions& options, const std::string& manifest, bool json) {
  const std::filesystem::path parent = std::filesystem::path(options.path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent);
  CQuorRecorder recorder(options);
  std::map<ULONG, Json> written;
  if (!manifest.empty()) {
    recorder.OnSample([&](const QuorSyntheticSample& s) {
      written[s.trackId].push_back(ToJson(s.timestamp, s.keyFrame, s.video, s.audio, s.payload));
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
                   {"payload_bytes", result.payloadBytes},
                   {"bytes_on_disk", result.bytesOnDisk},
                   {"files", result.filesWritten},
                   {"stopped_full", result.stoppedFull}});
  } else {
    std::printf(
        "handed %llu samples (%s of payload) to the writer: %u member file%s, %s on disk%s\n",
        static_cast<unsigned long long>(result.samplesWritten),
        QuorByteCount(result.payloadBytes).c_str(), static_cast<unsigned>(result.filesWritten),
        result.filesWritten == 1 ? "" : "s", QuorByteCount(result.bytesOnDisk).c_str(),
        result.stoppedFull ? "\nthe fileset filled up: the writer ended the recording there and "
                             "dropped the samples queued after that"
                           : "");
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

void ShowSteps(IQuorMediaFileReader* reader, ULONG trackId) {
  ULONGLONG first = 0;
  ULONGLONG last = 0;
  QuorCheck(reader->GetFirstTimeStamp(trackId, &first), "GetFirstTimeStamp");
  QuorCheck(reader->GetLastTimeStamp(trackId, &last), "GetLastTimeStamp");
  const ULONGLONG middle = first + (last - first) / 2 + 10;  // between two frames on purpose
  CQuorComPtr<IQuorMediaFileSample> sample;
  QuorCheck(reader->MoveTo(trackId, middle, sample.AddressOf()), "MoveTo");
  std::printf("  %-16s %s\n", ("MoveTo(" + std::to_string(middle) + ")").c_str(),
              SampleLine(ReadSample(sample.Get())).c_str());
  for (int i = 0; i < 3; ++i) {
    if (!Step([&](IQuorMediaFileSample** p) { return reader->MoveNext(trackId, p); }, &sample)) {
      return;
    }
    std::printf("  %-16s %s\n", "MoveNext", SampleLine(ReadSample(sample.Get())).c_str());
  }
  if (Step([&](IQuorMediaFileSample** p) { return reader->MovePrevious(trackId, p); }, &sample)) {
    std::printf("  %-16s %s\n", "MovePrevious", SampleLine(ReadSample(sample.Get())).c_str());
  }
}

// Copies the member files to directory/damaged and flips one payload byte in the middle media
// sample block of one of them; returns the copy's first member file.
std::filesystem::path MakeDamagedCopy(const std::vector<QuorMemberFileReport>& files,
                                      const std::filesystem::path& directory) {
  const std::filesystem::path copyDirectory = directory / "damaged";
  std::filesystem::create_directories(copyDirectory);
  std::vector<std::filesystem::path> copies;
  for (const QuorMemberFileReport& file : files) {
    copies.push_back(copyDirectory / std::filesystem::path(file.name).filename());
    std::filesystem::copy_file(file.name, copies.back(),
                               std::filesystem::copy_options::overwrite_existing);
  }
  const std::filesystem::path victim = copies.at(std::min(kDemoDamagedFile, copies.size() - 1));
  CQuorBlockWalker walker;
  const QuorBlockWalk walk = walker.Walk(victim.string());
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
  auto reader = QuorOpenFileSet(fileset, kDemoPassword);
  const QuorFileSetReport report = QuorReportFileSet(reader.Get(), true);
  QuorPrintReport(report);

  Heading("3. Seeking to the middle of the camera track and stepping");
  std::printf("  %-16s %12s  %-15s %8s  %s\n", "call", "timestamp", "flags", "size", "payload md5");
  ShowSteps(reader.Get(), kQuorVideoTrackId);

  Heading("4. Authenticating: quormf verify");
  const VerifyOutcome intact = Verify(reader.Get(), progress);
  PrintVerdict(intact);

  Heading("5. Damaging a copy and authenticating it again");
  const std::filesystem::path copy = MakeDamagedCopy(report.files, directory);
  auto damagedReader = QuorOpenFileSet(copy.string(), kDemoPassword);
  const VerifyOutcome damaged = Verify(damagedReader.Get(), progress);
  PrintVerdict(damaged);

  std::printf("\nThe fileset is in %s. Try:\n", directory.c_str());
  std::printf("  quormf info %s -p %s\n", fileset.c_str(), kDemoPassword);
  std::printf("  quormf samples %s -p %s --track 2 --from 1000000 --to 1100000\n", fileset.c_str(),
              kDemoPassword);
  std::printf("  quormf dump %s\n", (directory / "damaged" / "demo2.qmf").c_str());
  const bool asExpected = intact.result.authentic && !damaged.result.authentic;
  return asExpected ? 0 : 1;
}
