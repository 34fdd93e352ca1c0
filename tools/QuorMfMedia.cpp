// quormf import and export: the fileset side of media input and output. The media side
// (libavformat, bitstream filters, the in-band forms of the samples) is CQuorMediaImporter and
// CQuorMediaMuxer; this file records their samples with CQuorRecorder and reads them back with a
// reader object. Both commands write under temporary names and move the results into place only
// when everything succeeded, so a failure leaves nothing half-written.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <system_error>

#include "QuorAuthenticator.h"
#include "QuorFileSetReport.h"
#include "QuorMediaImporter.h"
#include "QuorMediaMuxer.h"
#include "QuorMfCommands.h"
#include "QuorToolText.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "quormediafiles/platform/QuorGuid.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

// A directory beside path for the work in progress; removed with its content unless Keep().
class CScratchDirectory {
 public:
  explicit CScratchDirectory(const fs::path& beside) {
    const fs::path parent = beside.parent_path().empty() ? fs::path(".") : beside.parent_path();
    fs::create_directories(parent);
    std::string pattern = (parent / ".quormf-work-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::system_error(errno, std::generic_category(), "creating " + pattern);
    }
    m_path = pattern;
  }
  ~CScratchDirectory() {
    std::error_code ignored;  // a leftover scratch directory is harmless
    fs::remove_all(m_path, ignored);
  }
  CScratchDirectory(const CScratchDirectory&) = delete;
  CScratchDirectory& operator=(const CScratchDirectory&) = delete;
  const fs::path& Path() const noexcept { return m_path; }

 private:
  fs::path m_path;
};

void RefuseExisting(const fs::path& path, bool overwrite) {
  if (!overwrite && fs::exists(path)) {
    throw CQuorMediaError(path.string() + ": exists (--overwrite replaces it)");
  }
}

std::string Seconds(ULONGLONG timestamp) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f s", static_cast<double>(timestamp) / kQuorTicksPerSecond);
  return text;
}

void PrintJson(const Json& j) { std::printf("%s\n", j.dump(2).c_str()); }

}  // namespace

int QuorRunImport(const QuorImportArgs& args) {
  const fs::path target = args.record.path;
  RefuseExisting(target, args.record.overwrite);
  CQuorMediaImporter importer(args.input, args.skipUnsupported);

  std::vector<QuorRecordTrack> tracks;
  std::optional<ULONG> firstVideo;
  for (const QuorMediaTrack& t : importer.Tracks()) {
    if (t.video && !firstVideo) firstVideo = t.trackId;
  }
  for (const QuorMediaTrack& t : importer.Tracks()) {
    QuorRecordTrack track;
    track.id = t.trackId;
    track.name = t.name;
    track.sourceId = static_cast<ULONG>(t.sourceIndex);
    if (importer.IsUrl()) track.sourceUrl = args.input;
    track.video = t.video;
    track.format = t.format;
    if (!t.video && firstVideo) track.pairId = firstVideo;
    tracks.push_back(track);
  }

  // The writer names the member files after the first one; they are recorded in a scratch
  // directory and moved beside the target together at the end.
  CScratchDirectory scratch(target);
  QuorRecordOptions options = args.record;
  options.path = (scratch.Path() / target.filename()).string();
  options.overwrite = false;
  CQuorRecorder recorder(options);
  std::map<ULONG, ULONGLONG> samples;
  recorder.OnSample([&](const QuorMediaSample& s) { ++samples[s.trackId]; });
  const bool progress = !args.json && QuorStderrIsTerminal();
  if (progress) recorder.OnProgress([](unsigned p) { QuorDrawProgress("importing", p); });
  const std::optional<double> duration = importer.DurationSeconds();
  const QuorRecordResult result = recorder.Record(
      tracks, [&](QuorMediaSample* sample) { return importer.Next(sample); },
      duration ? static_cast<ULONGLONG>(*duration * kQuorTicksPerSecond) : 0);
  if (progress) QuorClearProgress();

  std::vector<fs::path> written;
  for (const fs::directory_entry& entry : fs::directory_iterator(scratch.Path())) {
    written.push_back(entry.path());
  }
  std::sort(written.begin(), written.end());
  for (const fs::path& file : written) {
    RefuseExisting(target.parent_path() / file.filename(), args.record.overwrite);
  }
  for (const fs::path& file : written) fs::rename(file, target.parent_path() / file.filename());

  Json summary = {{"input", args.input},
                  {"fileset", target.string()},
                  {"files", written.size()},
                  {"samples", result.samplesWritten},
                  {"payload_bytes", result.payloadBytes},
                  {"bytes_on_disk", result.bytesOnDisk},
                  {"stopped_full", result.stoppedFull},
                  {"timestamp_unit", "microseconds"},
                  {"tracks", Json::array()},
                  {"skipped_streams", importer.SkippedStreams()}};
  for (const QuorMediaTrack& t : importer.Tracks()) {
    summary["tracks"].push_back(
        {{"id", t.trackId},
         {"name", t.name},
         {"codec", t.codec},
         {"stream", t.sourceIndex},
         {"samples", samples[t.trackId]},
         {"dropped_before_key_frame", importer.DroppedBeforeKeyFrame(t.trackId)}});
  }
  if (args.json) {
    PrintJson(summary);
    return 0;
  }
  std::printf("imported %s into %s: %llu samples, %zu member file%s, %s on disk\n",
              args.input.c_str(), target.c_str(),
              static_cast<unsigned long long>(result.samplesWritten), written.size(),
              written.size() == 1 ? "" : "s", QuorByteCount(result.bytesOnDisk).c_str());
  for (const QuorMediaTrack& t : importer.Tracks()) {
    std::printf("  track %u: %s, %s, %llu samples", static_cast<unsigned>(t.trackId),
                t.name.c_str(), t.codec.c_str(),
                static_cast<unsigned long long>(samples[t.trackId]));
    if (const ULONGLONG dropped = importer.DroppedBeforeKeyFrame(t.trackId)) {
      std::printf(" (dropped %llu delta frame%s before the first key frame)",
                  static_cast<unsigned long long>(dropped), dropped == 1 ? "" : "s");
    }
    std::printf("\n");
  }
  for (const std::string& line : importer.SkippedStreams()) {
    std::printf("  left out %s\n", line.c_str());
  }
  if (result.stoppedFull) {
    std::printf("the fileset filled up before the input ended: the rest was not imported\n");
  }
  return 0;
}

namespace {

// Steps one track of a reader through a range, one sample ahead.
class CTrackCursor {
 public:
  CTrackCursor(IQuorMediaFileReader* reader, ULONG trackId) : m_reader(reader), m_id(trackId) {}

  // Positions on the first sample to export: for video the last key frame at or before from (or
  // the first key frame after it), for audio the first sample at or after from. False when the
  // track has no such sample up to to.
  bool Start(ULONGLONG from, ULONGLONG to, bool video) {
    ULONGLONG first = 0, last = 0;
    if (FAILED(m_reader->GetFirstTimeStamp(m_id, &first)) ||
        FAILED(m_reader->GetLastTimeStamp(m_id, &last))) {
      (void)QuorTakeErrorDescription();  // (void): a track without samples exports nothing
      return false;
    }
    if (from > last || first > to) return false;
    m_to = to;
    if (!Load(m_reader->MoveTo(m_id, std::max(from, first), Out()))) return false;
    if (video) {
      while (!m_current.keyFrame && Load(m_reader->MovePrevious(m_id, Out()))) {
      }
      if (!m_current.keyFrame) {
        if (!Load(m_reader->MoveTo(m_id, std::max(from, first), Out()))) return false;
        while (!m_current.keyFrame && Load(m_reader->MoveNext(m_id, Out()))) {
        }
      }
    } else {
      while (m_current.timestamp < from && Load(m_reader->MoveNext(m_id, Out()))) {
      }
      if (m_current.timestamp < from) return false;
    }
    m_valid = (!video || m_current.keyFrame) && m_current.timestamp <= to;
    return m_valid;
  }

  bool Valid() const noexcept { return m_valid; }
  const QuorMediaSample& Current() const noexcept { return m_current; }
  void Advance() { m_valid = Load(m_reader->MoveNext(m_id, Out())) && m_current.timestamp <= m_to; }

 private:
  IQuorMediaFileSample** Out() { return m_sample.AddressOf(); }

  // Reads the sample a move answered; false at either end of the track.
  bool Load(HRESULT hr) {
    if (hr == MFS_E_NO_VALUE) {
      (void)QuorTakeErrorDescription();  // (void): the end of the track is an answer
      return false;
    }
    QuorCheck(hr, "Move");
    IQuorMediaFileSample* s = m_sample.Get();
    QuorCheck(s->GetTimestamp(&m_current.timestamp), "GetTimestamp");
    VARIANT_BOOL key = VARIANT_FALSE, video = VARIANT_FALSE, audio = VARIANT_FALSE;
    QuorCheck(s->GetFlags(&key, &video, &audio), "GetFlags");
    m_current.keyFrame = QuorIsTrue(key);
    m_current.video = QuorIsTrue(video);
    m_current.audio = QuorIsTrue(audio);
    m_current.trackId = m_id;
    CQuorSafeArray payload;
    const HRESULT payloadHr = s->GetPayloadData(payload.AddressOf());
    if (payloadHr != MFS_E_NO_VALUE) QuorCheck(payloadHr, "GetPayloadData");
    m_current.payload = QuorBytes(payload.Get());
    return true;
  }

  IQuorMediaFileReader* m_reader;  // borrowed
  ULONG m_id;
  ULONGLONG m_to = 0;
  CQuorComPtr<IQuorMediaFileSample> m_sample;
  QuorMediaSample m_current;
  bool m_valid = false;
};

struct ExportedTrack {
  QuorTrackReport report;
  std::unique_ptr<CTrackCursor> cursor;
  ULONGLONG samples = 0;
  ULONGLONG first = 0;
  ULONGLONG last = 0;
};

GUID FormatOf(const QuorTrackReport& track) {
  const std::optional<std::string>& text = track.video ? track.videoFormat : track.audioFormat;
  GUID format{};
  if (!text || FAILED(QuorGuidFromString(*text, &format))) {
    throw CQuorMediaError("track " + std::to_string(track.id) + ": no format identifier");
  }
  return format;
}

std::string UtcNow() { return QuorUtcTime(static_cast<ULONGLONG>(std::time(nullptr))); }

}  // namespace

int QuorRunExport(const QuorExportArgs& args) {
  const fs::path out = args.out;
  const std::string container = CQuorMediaMuxer::ContainerFor(args.out);
  const fs::path sidecar = args.out + ".json";
  RefuseExisting(out, args.overwrite);
  RefuseExisting(sidecar, args.overwrite);

  auto reader = QuorOpenFileSet(args.open.file, args.open.password);
  const QuorFileSetReport fileset = QuorReportFileSet(reader.Get(), false);
  const QuorAuthenticationResult verdict =
      CQuorAuthenticator(reader.Get(), QuorStderrIsTerminal()).Run();
  std::vector<std::string> leftOut;
  for (const QuorMemberFileReport& file : verdict.files) {
    if ((file.flags & kQuorStatusAuthentic) == 0) leftOut.push_back(file.name);
  }
  if (!verdict.authentic && !args.allowDamaged) {
    std::fflush(stdout);
    std::fprintf(stderr,
                 "error: %s: the fileset is not authentic%s (%zu member file%s fail%s); export "
                 "refused (--allow-damaged exports the samples of the authentic files)\n",
                 args.open.file.c_str(), verdict.complete ? "" : " and incomplete", leftOut.size(),
                 leftOut.size() == 1 ? "" : "s", leftOut.size() == 1 ? "s" : "");
    return 1;
  }

  // Samples of the authentic files only: a second reader opens links to those files alone.
  std::optional<CScratchDirectory> links;
  if (!leftOut.empty()) {
    links.emplace(out);
    std::string first;
    for (const QuorMemberFileReport& file : verdict.files) {
      if ((file.flags & kQuorStatusAuthentic) == 0) continue;
      const fs::path link = links->Path() / fs::path(file.name).filename();
      fs::create_symlink(fs::absolute(file.name), link);
      if (first.empty()) first = link.string();
    }
    if (first.empty()) throw CQuorMediaError(args.open.file + ": no member file is authentic");
    reader = QuorOpenFileSet(first, args.open.password);
  }

  const ULONGLONG from = args.from.value_or(0);
  const ULONGLONG to = args.to.value_or(~0ull);
  if (from > to) throw CQuorMediaError("--from lies after --to");
  const QuorFileSetReport shown = QuorReportFileSet(reader.Get(), false);
  for (ULONG id : args.trackIds) {
    if (std::none_of(shown.tracks.begin(), shown.tracks.end(),
                     [&](const QuorTrackReport& t) { return t.id == id; })) {
      throw CQuorMediaError(args.open.file + ": no track " + std::to_string(id));
    }
  }
  std::vector<ExportedTrack> tracks;
  for (const QuorTrackReport& report : shown.tracks) {
    if (!args.trackIds.empty() &&
        std::find(args.trackIds.begin(), args.trackIds.end(), report.id) == args.trackIds.end()) {
      continue;
    }
    ExportedTrack track;
    track.report = report;
    track.cursor = std::make_unique<CTrackCursor>(reader.Get(), report.id);
    if (track.cursor->Start(from, to, report.video)) tracks.push_back(std::move(track));
  }
  if (tracks.empty()) {
    throw CQuorMediaError(args.open.file + ": no samples between " + Seconds(from) + " and " +
                          (args.to ? Seconds(to) : "the end") + " in the chosen tracks");
  }

  std::vector<QuorMuxTrack> muxTracks;
  ULONGLONG base = ~0ull;
  for (const ExportedTrack& track : tracks) {
    QuorMuxTrack mux;
    mux.track.trackId = track.report.id;
    mux.track.name = track.report.name;
    mux.track.video = track.report.video;
    mux.track.format = FormatOf(track.report);
    mux.firstKeyFrame = track.cursor->Current().payload;
    muxTracks.push_back(std::move(mux));
    base = std::min(base, track.cursor->Current().timestamp);
  }

  const fs::path partial = out.string() + ".partial-" + std::to_string(getpid());
  try {
    CQuorMediaMuxer muxer(partial.string(), container, muxTracks, base);
    for (;;) {
      ExportedTrack* next = nullptr;
      for (ExportedTrack& track : tracks) {
        if (track.cursor->Valid() && (next == nullptr || track.cursor->Current().timestamp <
                                                             next->cursor->Current().timestamp)) {
          next = &track;
        }
      }
      if (next == nullptr) break;
      const QuorMediaSample& sample = next->cursor->Current();
      if (next->samples++ == 0) next->first = sample.timestamp;
      next->last = sample.timestamp;
      muxer.Write(sample);
      next->cursor->Advance();
    }
    muxer.Finish();
  } catch (...) {
    std::error_code ignored;  // the partial file is removed on the way out of any failure
    fs::remove(partial, ignored);
    throw;
  }

  Json side = {{"output", out.string()},       {"container", container},
               {"exported_at", UtcNow()},      {"fileset", args.open.file},
               {"fileset_guid", fileset.guid}, {"authentic", verdict.authentic},
               {"complete", verdict.complete}, {"files", Json::array()},
               {"left_out", leftOut},          {"range", Json::object()},
               {"tracks", Json::array()}};
  for (const QuorMemberFileReport& file : verdict.files) {
    Json j = QuorToJson(file);
    j["verdict"] = (file.flags & kQuorStatusAuthentic) != 0 ? "authentic" : "NOT authentic";
    j["exported"] = (file.flags & kQuorStatusAuthentic) != 0;
    side["files"].push_back(j);
  }
  ULONGLONG first = ~0ull, last = 0;
  for (const ExportedTrack& track : tracks) {
    side["tracks"].push_back({{"id", track.report.id},
                              {"name", track.report.name},
                              {"format", QuorFormatName(QuorGuidToString(FormatOf(track.report)))},
                              {"samples", track.samples},
                              {"first_timestamp", track.first},
                              {"last_timestamp", track.last}});
    first = std::min(first, track.first);
    last = std::max(last, track.last);
  }
  side["range"] = {{"unit", "microseconds"},
                   {"from", args.from ? Json(*args.from) : Json()},
                   {"to", args.to ? Json(*args.to) : Json()},
                   {"first_timestamp", first},
                   {"last_timestamp", last},
                   {"output_time_zero", base}};
  const fs::path sidecarPartial = partial.string() + ".json";
  {
    std::ofstream file(sidecarPartial);
    file << side.dump(2) << '\n';
    if (!file) {
      std::error_code ignored;
      fs::remove(partial, ignored);
      fs::remove(sidecarPartial, ignored);
      throw std::system_error(errno, std::generic_category(), "writing " + sidecar.string());
    }
  }
  fs::rename(partial, out);
  fs::rename(sidecarPartial, sidecar);

  std::printf("exported %s .. %s of %zu track%s to %s (sidecar %s)\n", Seconds(first).c_str(),
              Seconds(last).c_str(), tracks.size(), tracks.size() == 1 ? "" : "s", out.c_str(),
              sidecar.c_str());
  for (const ExportedTrack& track : tracks) {
    std::printf("  track %u: %s, %llu samples\n", static_cast<unsigned>(track.report.id),
                track.report.name.c_str(), static_cast<unsigned long long>(track.samples));
  }
  for (const std::string& name : leftOut) {
    std::printf("  left out the samples of %s (not authentic)\n", name.c_str());
  }
  return 0;
}
