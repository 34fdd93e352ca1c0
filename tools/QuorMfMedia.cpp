// quormf import and export: the fileset side of media input and output. The media side
// (libavformat, bitstream filters, the in-band forms of the samples) is CQuorMediaImporter and
// CQuorMediaMuxer; this file records their samples with quor::Writer and reads them back with
// quor::Reader. Both commands write under temporary names and move the results into place only
// when everything succeeded, so a failure or Ctrl-C leaves nothing half-written.
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stop_token>
#include <system_error>
#include <thread>
#include <utility>

#include "QuorInterrupt.h"
#include "QuorMediaImporter.h"
#include "QuorMediaMuxer.h"
#include "QuorMfCommands.h"
#include "QuorToolText.h"
#include "format/QuorFormatLayout.h"
#include "quormediafiles/platform/QuorGuid.h"
#include "quormediafiles/quor.hpp"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

// A directory beside path for the work in progress; removed with its content when the object
// ends, and so is the parent directory it had to create if that is left empty.
class CScratchDirectory {
 public:
  explicit CScratchDirectory(const fs::path& beside) {
    const fs::path parent = beside.parent_path().empty() ? fs::path(".") : beside.parent_path();
    if (!fs::exists(parent)) {
      fs::create_directories(parent);
      m_createdParent = parent;
    }
    std::string pattern = (parent / ".quormf-work-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::system_error(errno, std::generic_category(), "creating " + pattern);
    }
    m_path = pattern;
  }
  ~CScratchDirectory() {
    std::error_code ignored;  // a leftover scratch directory is harmless
    fs::remove_all(m_path, ignored);
    if (!m_createdParent.empty() && fs::is_empty(m_createdParent, ignored)) {
      fs::remove(m_createdParent, ignored);
    }
  }
  CScratchDirectory(const CScratchDirectory&) = delete;
  CScratchDirectory& operator=(const CScratchDirectory&) = delete;
  const fs::path& Path() const noexcept { return m_path; }

 private:
  fs::path m_path;
  fs::path m_createdParent;
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

// Bytes handed to the writer and not yet written, at most; and how often that is checked.
constexpr ULONGLONG kQueuedBytes = 16ull << 20;
constexpr ULONGLONG kCheckBytes = 1ull << 20;

}  // namespace

int QuorRunImport(const QuorImportArgs& args) {
  const fs::path target = args.record.path;
  RefuseExisting(target, args.record.overwrite);
  // Ctrl-C ends the input where it is (a live source has no end of its own); what came so far
  // is kept.
  CQuorInterruptScope interruptScope;
  CQuorMediaImporter importer(args.input, args.skipUnsupported, &CQuorInterruptScope::Interrupted);

  std::vector<quor::TrackSpec> tracks;
  std::optional<ULONG> firstVideo;
  for (const QuorMediaTrack& t : importer.Tracks()) {
    if (t.video && !firstVideo) firstVideo = t.trackId;
  }
  for (const QuorMediaTrack& t : importer.Tracks()) {
    quor::TrackSpec track;
    track.id = t.trackId;
    track.name = t.name;
    track.sourceId = static_cast<std::uint32_t>(t.sourceIndex);
    if (importer.IsUrl()) track.sourceUrl = args.input;
    track.video = t.video;
    track.audio = !t.video;
    (t.video ? track.videoFormat : track.audioFormat) = QuorGuidToString(t.format);
    if (!t.video && firstVideo) track.pairId = *firstVideo;
    tracks.push_back(track);
  }

  // The writer names the member files after the first one; they are recorded in a scratch
  // directory and moved beside the target together at the end.
  CScratchDirectory scratch(target);
  quor::WriterOptions options;
  options.description = args.record.description;
  options.password = args.record.password;
  options.durable = args.record.durable;
  options.indexPeriodSeconds = args.record.indexPeriodSeconds;
  options.signingKey = args.record.signingKey;
  quor::Writer writer =
      quor::Writer::create((scratch.Path() / target.filename()).string(),
                           {args.record.maxSizeKiB, args.record.maxFiles}, tracks, options);

  const bool progress = !args.json && QuorStderrIsTerminal();
  const std::optional<double> duration = importer.DurationSeconds();
  const ULONGLONG durationUs =
      duration ? static_cast<ULONGLONG>(*duration * kQuorTicksPerSecond) : 0;
  std::map<ULONG, ULONGLONG> samples;
  ULONGLONG written = 0, payloadBytes = 0, sinceCheck = 0;
  ULONGLONG handedBytes = writer.status().bytesWrittenTotal;
  bool stoppedFull = false;
  unsigned lastPercent = 101;
  const auto start = std::chrono::steady_clock::now();
  QuorMediaSample sample;
  while (!CQuorInterruptScope::Interrupted() && importer.Next(&sample)) {
    if (args.record.realtime) {
      std::this_thread::sleep_until(start + std::chrono::microseconds(sample.timestamp));
    }
    const quor::SampleFlags flags =
        (sample.keyFrame ? quor::SampleFlags::KeyFrame : quor::SampleFlags::NotKeyFrame) |
        (sample.video ? quor::SampleFlags::Video : quor::SampleFlags::Audio);
    writer.write(sample.trackId, sample.timestamp, flags,
                 std::span<const std::uint8_t>(sample.payload));
    ++samples[sample.trackId];
    ++written;
    payloadBytes += sample.payload.size();
    // The writer copies every sample: holding back while it is far behind keeps a fast input
    // from queueing the whole file in memory, without stopping the reading while it catches up.
    sinceCheck += sample.payload.size() + kMediaSampleOverhead;
    if (sinceCheck > kCheckBytes) {
      handedBytes += sinceCheck;
      sinceCheck = 0;
      quor::WriterStatus now = writer.status();
      while (now.state == quor::WriterState::Started &&
             handedBytes > now.bytesWrittenTotal + kQueuedBytes) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        now = writer.status();
      }
      if (now.state == quor::WriterState::Finished) {
        stoppedFull = true;
        break;
      }
    }
    const unsigned percent =
        durationUs == 0
            ? 0
            : static_cast<unsigned>(std::min<ULONGLONG>(100, sample.timestamp * 100 / durationUs));
    if (progress && percent != lastPercent) QuorDrawProgress("importing", lastPercent = percent);
  }
  writer.drain();
  const quor::WriterStatus status = writer.status();
  stoppedFull = stoppedFull || status.state == quor::WriterState::Finished;
  writer.stop();
  if (progress) QuorClearProgress();
  const ULONGLONG bytesOnDisk = writer.status().bytesWrittenTotal;
  const bool interrupted = CQuorInterruptScope::Interrupted() || importer.Stopped();

  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(scratch.Path())) {
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    RefuseExisting(target.parent_path() / file.filename(), args.record.overwrite);
  }
  for (const fs::path& file : files) fs::rename(file, target.parent_path() / file.filename());

  Json summary = {{"input", args.input},
                  {"fileset", target.string()},
                  {"files", files.size()},
                  {"samples", written},
                  {"payload_bytes", payloadBytes},
                  {"bytes_on_disk", bytesOnDisk},
                  {"stopped_full", stoppedFull},
                  {"interrupted", interrupted},
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
              args.input.c_str(), target.c_str(), static_cast<unsigned long long>(written),
              files.size(), files.size() == 1 ? "" : "s", QuorByteCount(bytesOnDisk).c_str());
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
  if (stoppedFull) {
    std::printf("the fileset filled up before the input ended: the rest was not imported\n");
  }
  if (interrupted) std::printf("interrupted: the input was imported up to there\n");
  return 0;
}

namespace {

// Steps one track of a reader through a range, one sample ahead. The sample is the reader's own
// (no copy): its bytes stay valid until the cursor moves.
class CTrackCursor {
 public:
  CTrackCursor(const quor::Reader& reader, std::uint32_t trackId)
      : m_reader(reader), m_id(trackId) {}

  // Positions on the first sample to export: for video the last key frame at or before from (or
  // the first key frame after it), for audio the first sample at or after from. False when the
  // track has no such sample up to to.
  bool Start(const quor::TrackInfo& track, ULONGLONG from, ULONGLONG to) {
    if (!track.firstTimestamp || from > *track.lastTimestamp || *track.firstTimestamp > to) {
      return false;
    }
    m_to = to;
    if (!Load(m_reader.moveTo(m_id, from))) return false;
    if (track.video) {
      while (!m_current->keyFrame() && Load(m_reader.previous(m_id))) {
      }
      if (!m_current->keyFrame()) {
        (void)Load(m_reader.moveTo(m_id, from));  // (void): the sample found above is there
        while (!m_current->keyFrame() && Load(m_reader.next(m_id))) {
        }
      }
    } else {
      while (m_current->timestamp() < from && Load(m_reader.next(m_id))) {
      }
      if (m_current->timestamp() < from) return false;
    }
    m_valid = (!track.video || m_current->keyFrame()) && m_current->timestamp() <= to;
    return m_valid;
  }

  bool Valid() const noexcept { return m_valid; }
  ULONGLONG Timestamp() const noexcept { return m_current->timestamp(); }
  bool KeyFrame() const noexcept { return m_current->keyFrame(); }
  std::span<const std::uint8_t> Payload() const noexcept {
    const std::span<const std::byte> bytes = m_current->payload();
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
  }
  void Advance() { m_valid = Load(m_reader.next(m_id)) && m_current->timestamp() <= m_to; }

 private:
  // Takes the sample a move answered; false at either end of the track.
  bool Load(std::optional<quor::Sample>&& sample) {
    if (!sample) return false;
    m_current = std::move(sample);
    return true;
  }

  const quor::Reader& m_reader;  // borrowed for the cursor's life
  std::uint32_t m_id;
  ULONGLONG m_to = 0;
  std::optional<quor::Sample> m_current;
  bool m_valid = false;
};

struct ExportedTrack {
  quor::TrackInfo info;
  ULONGLONG samples = 0;
  ULONGLONG first = 0;
  ULONGLONG last = 0;
};

struct Remuxed {
  std::vector<ExportedTrack> tracks;
  ULONGLONG base = 0;  // the timestamp that became time 0
};

GUID FormatOf(const quor::TrackInfo& track) {
  GUID format{};
  if (FAILED(QuorGuidFromString(track.video ? track.videoFormat : track.audioFormat, &format))) {
    throw CQuorMediaError("track " + std::to_string(track.id) + ": no format identifier");
  }
  return format;
}

std::string UtcNow() { return QuorUtcTime(static_cast<ULONGLONG>(std::time(nullptr))); }

[[noreturn]] void ThrowInterrupted(const std::string& out) {
  throw CQuorMediaError(out + ": interrupted; nothing was written");
}

// Samples on their way from the thread that reads them to the thread that muxes them. Each side
// wakes the other only at a mark (the consumer once kWakeBytes wait, the producer once a full queue
// of kFullBytes is half drained): waking per sample would cost a thread switch each.
class CSampleQueue {
 public:
  struct Item {
    ULONG trackId = 0;
    ULONGLONG timestamp = 0;
    bool keyFrame = false;
    std::vector<std::uint8_t> bytes;
  };

  // Waits while the queue is full; false when the consumer closed it (the item is dropped).
  bool Push(Item&& item) {
    std::unique_lock lock(m_mutex);
    if (m_bytes >= kFullBytes) {
      m_producerWaits = true;
      m_changed.wait(lock, [&] { return m_closed || m_bytes <= kFullBytes / 2; });
      m_producerWaits = false;
    }
    if (m_closed) return false;
    m_bytes += Cost(item);
    m_items.push_back(std::move(item));
    if (m_consumerWaits && m_bytes >= kWakeBytes) m_changed.notify_all();
    return true;
  }
  // Waits for an item; false once the queue is closed and empty.
  bool Pop(Item* item) {
    std::unique_lock lock(m_mutex);
    if (m_items.empty()) {
      m_consumerWaits = true;
      m_changed.wait(lock, [&] { return m_closed || m_bytes >= kWakeBytes; });
      m_consumerWaits = false;
    }
    if (m_items.empty()) return false;
    *item = std::move(m_items.front());
    m_items.pop_front();
    m_bytes -= Cost(*item);
    if (m_producerWaits && m_bytes <= kFullBytes / 2) m_changed.notify_all();
    return true;
  }
  // Ends the queue: the producer at the end or on failure (which Failure then gives), the
  // consumer when it stops.
  void Close(std::exception_ptr failure = nullptr) {
    const std::lock_guard lock(m_mutex);
    m_closed = true;
    if (failure && !m_failure) m_failure = std::move(failure);
    m_changed.notify_all();
  }
  std::exception_ptr Failure() {
    const std::lock_guard lock(m_mutex);
    return m_failure;
  }
  void Recycle(std::vector<std::uint8_t>&& buffer) {
    const std::lock_guard lock(m_mutex);
    if (m_spare.size() < kSpareBuffers) m_spare.push_back(std::move(buffer));
  }
  // An emptied buffer, or a new one.
  std::vector<std::uint8_t> Spare() {
    const std::lock_guard lock(m_mutex);
    if (m_spare.empty()) return {};
    std::vector<std::uint8_t> buffer = std::move(m_spare.back());
    m_spare.pop_back();
    return buffer;
  }

 private:
  static constexpr std::size_t kFullBytes = 8u << 20;
  static constexpr std::size_t kWakeBytes = 1u << 20;
  static constexpr std::size_t kSpareBuffers = 64;
  static std::size_t Cost(const Item& item) noexcept { return item.bytes.size() + sizeof item; }
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<Item> m_items;
  std::size_t m_bytes = 0;  // the items' Cost
  bool m_closed = false;
  bool m_producerWaits = false;
  bool m_consumerWaits = false;
  std::exception_ptr m_failure;
  std::vector<std::vector<std::uint8_t>> m_spare;
};

// Remuxes the chosen range and tracks of reader into path (which the caller removes on failure).
Remuxed Remux(const quor::Reader& reader, const QuorExportArgs& args, const std::string& container,
              const fs::path& path) {
  const ULONGLONG from = args.from.value_or(0);
  const ULONGLONG to = args.to.value_or(~0ull);
  if (from > to) throw CQuorMediaError("--from lies after --to");
  const std::vector<quor::TrackInfo> shown = reader.tracks();
  for (ULONG id : args.trackIds) {
    if (std::none_of(shown.begin(), shown.end(),
                     [&](const quor::TrackInfo& t) { return t.id == id; })) {
      throw CQuorMediaError(args.open.file + ": no track " + std::to_string(id));
    }
  }
  Remuxed result;
  std::vector<CTrackCursor> cursors;
  cursors.reserve(shown.size());
  for (const quor::TrackInfo& info : shown) {
    if (!args.trackIds.empty() &&
        std::find(args.trackIds.begin(), args.trackIds.end(), info.id) == args.trackIds.end()) {
      continue;
    }
    CTrackCursor cursor(reader, info.id);
    if (!cursor.Start(info, from, to)) continue;
    result.tracks.push_back({info});
    cursors.push_back(std::move(cursor));
  }
  if (result.tracks.empty()) {
    throw CQuorMediaError(args.open.file + ": no samples between " + Seconds(from) + " and " +
                          (args.to ? Seconds(to) : "the end") + " in the chosen tracks");
  }

  std::vector<QuorMuxTrack> muxTracks;
  result.base = ~0ull;
  for (std::size_t i = 0; i < cursors.size(); ++i) {
    QuorMuxTrack mux;
    mux.track.trackId = result.tracks[i].info.id;
    mux.track.name = result.tracks[i].info.name;
    mux.track.video = result.tracks[i].info.video;
    mux.track.format = FormatOf(result.tracks[i].info);
    mux.firstKeyFrame.assign(cursors[i].Payload().begin(), cursors[i].Payload().end());
    muxTracks.push_back(std::move(mux));
    result.base = std::min(result.base, cursors[i].Timestamp());
  }

  // Reading checks the hash of every block it reads, so reading and muxing take turns badly on
  // one thread: the samples are read (and copied out) on a second thread and muxed on this one.
  CQuorMediaMuxer muxer(path.string(), container, muxTracks, result.base);
  CSampleQueue queue;
  std::thread readerThread([&] {
    try {
      for (;;) {
        std::size_t next = cursors.size();
        for (std::size_t i = 0; i < cursors.size(); ++i) {
          if (cursors[i].Valid() &&
              (next == cursors.size() || cursors[i].Timestamp() < cursors[next].Timestamp())) {
            next = i;
          }
        }
        if (next == cursors.size()) break;
        CTrackCursor& cursor = cursors[next];
        ExportedTrack& track = result.tracks[next];
        if (track.samples++ == 0) track.first = cursor.Timestamp();
        track.last = cursor.Timestamp();
        CSampleQueue::Item item{track.info.id, cursor.Timestamp(), cursor.KeyFrame(),
                                queue.Spare()};
        item.bytes.assign(cursor.Payload().begin(), cursor.Payload().end());
        if (!queue.Push(std::move(item))) return;  // the muxing side stopped
        cursor.Advance();
      }
      queue.Close();
    } catch (...) {
      queue.Close(std::current_exception());
    }
  });
  try {
    CSampleQueue::Item item;
    while (queue.Pop(&item)) {
      if (CQuorInterruptScope::Interrupted()) ThrowInterrupted(args.out);
      muxer.Write(item.trackId, item.timestamp, item.keyFrame, item.bytes);
      queue.Recycle(std::move(item.bytes));
    }
  } catch (...) {
    queue.Close();
    readerThread.join();
    throw;
  }
  readerThread.join();
  if (const std::exception_ptr failure = queue.Failure()) std::rethrow_exception(failure);
  muxer.Finish();
  return result;
}

// Authenticates a fileset on a thread of its own, through a reader of its own, while the caller
// remuxes. Ctrl-C (polled with the progress) cancels the walk; so does the end of the object.
class CBackgroundAuthentication {
 public:
  CBackgroundAuthentication(const QuorOpenArgs& open, bool progress)
      : m_thread([this, open, progress] {
          try {
            const quor::Reader reader = quor::Reader::open(open.file, open.password);
            m_verdict = reader.authenticate(
                [this, progress](unsigned percent) {
                  if (CQuorInterruptScope::Interrupted()) m_stop.request_stop();
                  if (progress) QuorDrawProgress("authenticating", percent);
                },
                m_stop.get_token());
            if (progress) QuorClearProgress();
            m_info = reader.info();
          } catch (...) {
            m_failure = std::current_exception();
          }
        }) {}
  ~CBackgroundAuthentication() {
    m_stop.request_stop();
    if (m_thread.joinable()) m_thread.join();
  }
  CBackgroundAuthentication(const CBackgroundAuthentication&) = delete;
  CBackgroundAuthentication& operator=(const CBackgroundAuthentication&) = delete;

  // Waits for the verdict; rethrows the walk's failure. A cancelled walk throws.
  const quor::Authentication& Verdict(const std::string& out) {
    if (m_thread.joinable()) m_thread.join();
    if (m_failure) std::rethrow_exception(m_failure);
    if (m_verdict.cancelled) ThrowInterrupted(out);
    return m_verdict;
  }
  // The fileset's files after the walk (with their Tested and Authentic bits).
  const quor::FileSetInfo& Info() const noexcept { return m_info; }

 private:
  quor::Authentication m_verdict;
  quor::FileSetInfo m_info;
  std::exception_ptr m_failure;
  std::stop_source m_stop;
  std::thread m_thread;  // last: it starts once the members above exist
};

// Removes the files named when the object ends, unless kept.
class CPartialFiles {
 public:
  explicit CPartialFiles(std::vector<fs::path> paths) : m_paths(std::move(paths)) {}
  ~CPartialFiles() {
    if (m_kept) return;
    std::error_code ignored;  // the removal is the clean-up of an earlier failure
    for (const fs::path& path : m_paths) fs::remove(path, ignored);
  }
  CPartialFiles(const CPartialFiles&) = delete;
  CPartialFiles& operator=(const CPartialFiles&) = delete;
  void Keep() noexcept { m_kept = true; }

 private:
  std::vector<fs::path> m_paths;
  bool m_kept = false;
};

}  // namespace

// The remux runs while the fileset is authenticated on a second thread; its result is moved
// into place only when the verdict allows it. A damaged fileset exported with --allow-damaged is
// remuxed again from its authentic member files alone.
int QuorRunExport(const QuorExportArgs& args) {
  const fs::path out = args.out;
  const std::string container = CQuorMediaMuxer::ContainerFor(args.out);
  const fs::path sidecar = args.out + ".json";
  RefuseExisting(out, args.overwrite);
  RefuseExisting(sidecar, args.overwrite);

  CQuorInterruptScope interruptScope;
  quor::Reader reader = quor::Reader::open(args.open.file, args.open.password);
  const bool progress = QuorStderrIsTerminal();
  const fs::path partial = out.string() + ".partial-" + std::to_string(getpid());
  const fs::path sidecarPartial = partial.string() + ".json";
  CPartialFiles partials({partial, sidecarPartial});
  CBackgroundAuthentication authentication(args.open, progress);

  std::optional<Remuxed> remuxed;
  std::exception_ptr remuxFailure;  // decided on once the verdict is known: damage may cause it
  try {
    remuxed = Remux(reader, args, container, partial);
  } catch (...) {
    if (CQuorInterruptScope::Interrupted()) throw;
    remuxFailure = std::current_exception();
  }
  const quor::Authentication& verdict = authentication.Verdict(args.out);
  std::vector<std::string> leftOut;
  for (const quor::FileVerdict& file : verdict.files) {
    if (!file.authentic) leftOut.push_back(file.name);
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
    remuxed.reset();
    links.emplace(out);
    std::string first;
    for (const quor::FileVerdict& file : verdict.files) {
      if (!file.authentic) continue;
      const fs::path link = links->Path() / fs::path(file.name).filename();
      fs::create_symlink(fs::absolute(file.name), link);
      if (first.empty()) first = link.string();
    }
    if (first.empty()) throw CQuorMediaError(args.open.file + ": no member file is authentic");
    reader = quor::Reader::open(first, args.open.password);
    remuxed = Remux(reader, args, container, partial);
  } else if (remuxFailure) {
    std::rethrow_exception(remuxFailure);
  }

  const quor::FileSetInfo& fileset = authentication.Info();
  Json side = {{"output", out.string()},       {"container", container},
               {"exported_at", UtcNow()},      {"fileset", args.open.file},
               {"fileset_guid", fileset.guid}, {"authentic", verdict.authentic},
               {"complete", verdict.complete}, {"files", Json::array()},
               {"left_out", leftOut},          {"range", Json::object()},
               {"tracks", Json::array()}};
  for (const quor::MemberFile& file : fileset.files) {
    const auto verdictOf =
        std::find_if(verdict.files.begin(), verdict.files.end(),
                     [&](const quor::FileVerdict& v) { return v.name == file.name; });
    const bool authentic = verdictOf != verdict.files.end() && verdictOf->authentic;
    side["files"].push_back(
        {{"name", file.name},
         {"fileset_index", file.filesetIndex ? Json(*file.filesetIndex) : Json()},
         {"status", quor::words(file.status)},
         {"verdict", authentic ? "authentic" : "NOT authentic"},
         {"exported", authentic}});
  }
  ULONGLONG first = ~0ull, last = 0;
  for (const ExportedTrack& track : remuxed->tracks) {
    side["tracks"].push_back({{"id", track.info.id},
                              {"name", track.info.name},
                              {"format", QuorFormatName(QuorGuidToString(FormatOf(track.info)))},
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
                   {"output_time_zero", remuxed->base}};
  {
    std::ofstream file(sidecarPartial);
    file << side.dump(2) << '\n';
    if (!file)
      throw std::system_error(errno, std::generic_category(), "writing " + sidecar.string());
  }
  if (CQuorInterruptScope::Interrupted()) ThrowInterrupted(args.out);
  fs::rename(partial, out);
  fs::rename(sidecarPartial, sidecar);
  partials.Keep();

  std::printf("exported %s .. %s of %zu track%s to %s (sidecar %s)\n", Seconds(first).c_str(),
              Seconds(last).c_str(), remuxed->tracks.size(), remuxed->tracks.size() == 1 ? "" : "s",
              out.c_str(), sidecar.c_str());
  for (const ExportedTrack& track : remuxed->tracks) {
    std::printf("  track %u: %s, %llu samples\n", static_cast<unsigned>(track.info.id),
                track.info.name.c_str(), static_cast<unsigned long long>(track.samples));
  }
  for (const std::string& name : leftOut) {
    std::printf("  left out the samples of %s (not authentic)\n", name.c_str());
  }
  return 0;
}
