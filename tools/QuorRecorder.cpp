#include "QuorRecorder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#include "QuorInterrupt.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "salvage/QuorFileSetDiagnosis.h"

namespace {

// A media sample block is its header, the payload field and the three base fields.
constexpr ULONGLONG kSampleBlockOverhead = 8 + 8 + 48;

// An advisory lock on a fileset's first member file, held by the quormf that records into it, so
// that a second one refuses to overwrite it. Closing the descriptor releases it.
class CRecordingLock {
 public:
  CRecordingLock() = default;
  ~CRecordingLock() {
    if (m_fd >= 0) ::close(m_fd);
  }
  CRecordingLock(const CRecordingLock&) = delete;
  CRecordingLock& operator=(const CRecordingLock&) = delete;

  // False when another process holds the lock; true also when the file cannot be opened.
  bool TryLock(const std::string& path) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
  }

 private:
  int m_fd = -1;
};

// Before recording over path: refuses while another quormf records into it (the member file it
// is writing is locked), and removes every member of the fileset path belongs to, so that none
// is left behind beside the new recording.
void ClearOldFileSet(const std::string& path) {
  if (!std::filesystem::exists(path)) return;
  CQuorFileSetDiagnosis old;
  const bool diagnosed = SUCCEEDED(old.Diagnose(path));
  std::vector<std::string> members = {path};
  std::vector<std::string> probed = {path};
  if (diagnosed) {
    for (const QuorCandidateFile* member : old.Members()) members.push_back(member->path);
    // The file a recording is writing is locked, so it is unreadable to the diagnosis.
    for (const QuorCandidateFile& file : old.m_files) {
      if (file.kind != QuorCandidateKind::ckOtherFileSet) probed.push_back(file.path);
    }
  }
  for (const std::string& file : probed) {
    CRecordingLock probe;
    if (!probe.TryLock(file)) {
      throw std::runtime_error("another process is recording into " + path +
                               "; not overwriting it");
    }
  }
  for (const std::string& member : members) {
    std::error_code ignored;  // a member that cannot be removed is overwritten or left as it was
    if (member != path) std::filesystem::remove(member, ignored);
  }
}

// quor::Writer::create, whose failure (std::runtime_error) says in words what is wrong with path
// and then names the result code.
quor::Writer Create(const std::string& path, const quor::Limits& limits,
                    const std::vector<quor::TrackSpec>& tracks,
                    const quor::WriterOptions& options) {
  try {
    return quor::Writer::create(path, limits, tracks, options);
  } catch (const quor::Error& e) {
    std::string text;
    if (e.code() == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)) {
      text = path + " already exists: give --overwrite to replace its fileset";
    } else if (e.code() == E_INVALIDARG && std::filesystem::path(path).extension().empty()) {
      text =
          path + " has no extension: the member files are named after it (cam.qmf, cam1.qmf, ...)";
    }
    const bool explained = !text.empty();
    if (!explained) text = "cannot record into " + path;
    text += ": " + QuorResultCodeText(e.code());
    if (!explained && !e.description().empty()) text += "\n  the library says: " + e.description();
    throw std::runtime_error(text);
  }
}

}  // namespace

quor::SampleFlags QuorFlagsOf(const QuorMediaSample& sample) noexcept {
  using F = quor::SampleFlags;
  return (sample.keyFrame ? F::KeyFrame : F::NotKeyFrame) | (sample.video ? F::Video : F::None) |
         (sample.audio ? F::Audio : F::None);
}

QuorRecordResult CQuorRecorder::Record() {
  using Clock = std::chrono::steady_clock;
  // From before the first member file exists, so that a signal sent once it exists is caught.
  CQuorInterruptScope interruptScope;
  if (m_options.overwrite) ClearOldFileSet(m_options.path);
  std::vector<quor::TrackSpec> tracks(2);
  quor::TrackSpec& camera = tracks[0];
  camera.id = kQuorVideoTrackId;
  camera.name = "camera";
  camera.sourceId = 1;
  camera.sourceUrl = "synthetic://camera";
  camera.video = true;
  camera.videoFormat = "H.264";
  quor::TrackSpec& microphone = tracks[1];
  microphone.id = kQuorAudioTrackId;
  microphone.name = "microphone";
  microphone.sourceId = 2;
  microphone.pairId = kQuorVideoTrackId;
  microphone.sourceUrl = "synthetic://microphone";
  microphone.audio = true;
  microphone.audioFormat = "AAC";
  quor::WriterOptions options;
  options.overwrite = m_options.overwrite;
  options.description = m_options.description;
  options.password = m_options.password;
  options.signingKey = m_options.signingKey;
  options.durable = m_options.durable;
  options.indexPeriodSeconds = m_options.indexPeriodSeconds;
  quor::Limits limits;
  limits.maxFileSizeKiB = m_options.maxSizeKiB;
  limits.maxFiles = m_options.maxFiles;
  quor::Writer writer = Create(m_options.path, limits, tracks, options);
  CRecordingLock lock;
  (void)lock.TryLock(m_options.path);  // (void): the file was just created, so this one wins

  const ULONGLONG durationUs = static_cast<ULONGLONG>(
      std::llround(std::max(0.0, m_options.durationSeconds) * kQuorTicksPerSecond));
  quor::WriterStatus status = writer.status();
  const ULONGLONG headBytes = status.bytesWrittenTotal;
  CQuorSyntheticSource source(durationUs);
  QuorSyntheticSample next;
  QuorRecordResult result;
  ULONGLONG refused = 0;  // too large for a member file: refused before the queue
  ULONGLONG expectedBytes = headBytes;
  unsigned lastPercent = 101;
  const Clock::time_point start = Clock::now();
  while (!CQuorInterruptScope::Interrupted() && source.Next(&next)) {
    if (m_options.realtime)
      std::this_thread::sleep_until(start + std::chrono::microseconds(next.timestamp));
    // Keep the queue short: the writer copies each sample, so an unthrottled source would hold
    // the whole recording in memory.
    status = writer.status();
    while (status.state == quor::WriterState::Started &&
           expectedBytes > status.bytesWrittenTotal + kMaxQueuedBytes) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      status = writer.status();
    }
    if (status.state == quor::WriterState::Finished) {
      result.stoppedFull = true;
      break;
    }
    ++result.samplesWritten;
    result.payloadBytes += next.payload.size();
    bool written = true;
    try {
      (void)writer.write(next.trackId, next.timestamp, QuorFlagsOf(next),
                         std::span<const std::uint8_t>(next.payload));  // (void): rollover
      expectedBytes += next.payload.size() + kSampleBlockOverhead;
    } catch (const quor::Error& e) {
      if (e.code() != quor::codes::FileFull) throw;
      ++refused;
      written = false;
    }
    if (m_onSample && written) {
      // The writer counts what it drops; a count that grew while this sample was the only one
      // queued names it.
      const ULONGLONG droppedBefore = status.droppedSamples;
      writer.drain();
      status = writer.status();
      written = status.droppedSamples == droppedBefore;
    }
    if (m_onSample && written) m_onSample(next);
    const unsigned percent =
        durationUs == 0 ? 100 : static_cast<unsigned>(next.timestamp * 100 / durationUs);
    if (m_onProgress && percent != lastPercent) m_onProgress(lastPercent = percent);
  }

  writer.drain();
  status = writer.status();
  if (status.state == quor::WriterState::Finished) result.stoppedFull = true;
  result.interrupted = CQuorInterruptScope::Interrupted();
  result.filesWritten = status.currentFileIndex + 1;
  writer.stop();
  status = writer.status();
  result.bytesOnDisk = status.bytesWrittenTotal;
  result.samplesDropped = refused + status.droppedSamples;
  if (m_onProgress) m_onProgress(100);
  return result;
}
