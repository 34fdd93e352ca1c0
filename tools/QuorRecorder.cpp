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
#include "quormediafiles/QuorFormatIds.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "quormediafiles/platform/QuorGuid.h"
#include "salvage/QuorFileSetDiagnosis.h"

namespace {

// A media sample block is its header, the payload field and the three base fields.
constexpr ULONGLONG kSampleBlockOverhead = 8 + 8 + 48;

struct WriterProgress {
  ULONGLONG bytesTotal = 0;
  WriterStateEnum state = wseCreated;
  ULONG fileIndex = 0;
};

WriterProgress Poll(IQuorMediaFileWriter* writer) {
  CQuorComPtr<IQuorMediaFileRecordingStatus> status;
  QuorCheck(writer->GetRecordingStatus(status.AddressOf()), "GetRecordingStatus");
  WriterProgress progress;
  QuorCheck(status->GetBytesWrittenTotal(&progress.bytesTotal), "GetBytesWrittenTotal");
  QuorCheck(status->GetWriterState(&progress.state), "GetWriterState");
  QuorCheck(status->GetCurrentFileIndex(&progress.fileIndex), "GetCurrentFileIndex");
  return progress;
}

CQuorComPtr<IQuorTrackMetadata> MakeTrack(ULONG id, const char* name, ULONG sourceId,
                                          const char* url, bool video, const GUID& format) {
  auto track = QuorCreate<IQuorTrackMetadata>(CLSID_QuorTrackMetadata);
  QuorCheck(track->SetTrackId(id), "SetTrackId");
  QuorCheck(track->SetTrackName(QuorBstr(name).Get()), "SetTrackName");
  QuorCheck(track->SetSourceId(sourceId), "SetSourceId");
  QuorCheck(track->SetSourceUrl(QuorBstr(url).Get()), "SetSourceUrl");
  QuorCheck(track->SetVideoFlag(QuorVariantBool(video)), "SetVideoFlag");
  QuorCheck(track->SetAudioFlag(QuorVariantBool(!video)), "SetAudioFlag");
  const CQuorBstr formatText = QuorBstr(QuorGuidToString(format));
  if (video) {
    QuorCheck(track->SetVideoFormatIdentifier(formatText.Get()), "SetVideoFormatIdentifier");
  } else {
    QuorCheck(track->SetAudioFormatIdentifier(formatText.Get()), "SetAudioFormatIdentifier");
  }
  return track;
}

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

}  // namespace

QuorRecordResult CQuorRecorder::Record() {
  using Clock = std::chrono::steady_clock;
  // From before the first member file exists, so that a signal sent once it exists is caught.
  CQuorInterruptScope interruptScope;
  if (m_options.overwrite) ClearOldFileSet(m_options.path);
  auto writer = QuorCreate<IQuorMediaFileWriter>(CLSID_QuorMediaFileWriter);
  // The key is checked before the first member file is created.
  if (!m_options.signingKey.empty()) {
    CQuorComPtr<IQuorMediaFileWriterSeal> seal;
    QuorCheck(writer.As(&seal), "QueryInterface(IQuorMediaFileWriterSeal)");
    QuorCheck(seal->SetSigningKey(QuorBstr(m_options.signingKey).Get()), "SetSigningKey");
  }
  QuorCheck(writer->Initialize(QuorBstr(m_options.path).Get(), m_options.maxSizeKiB,
                               m_options.maxFiles, QuorVariantBool(m_options.overwrite)),
            "Initialize");
  CRecordingLock lock;
  (void)lock.TryLock(m_options.path);  // (void): the file was just created, so this one wins
  if (!m_options.description.empty()) {
    QuorCheck(writer->SetDescription(QuorBstr(m_options.description).Get()), "SetDescription");
  }
  if (!m_options.password.empty()) {
    QuorCheck(writer->SetPassword(QuorBstr(m_options.password).Get()), "SetPassword");
  }
  QuorCheck(writer->AddTrack(MakeTrack(kQuorVideoTrackId, "camera", 1, "synthetic://camera", true,
                                       kQuorFormatVideoH264)
                                 .Get()),
            "AddTrack");
  auto microphone = MakeTrack(kQuorAudioTrackId, "microphone", 2, "synthetic://microphone", false,
                              kQuorFormatAudioAac);
  QuorCheck(microphone->SetPairId(kQuorVideoTrackId), "SetPairId");
  QuorCheck(writer->AddTrack(microphone.Get()), "AddTrack");
  CQuorComPtr<IQuorMediaFileWriterOptions> options;
  QuorCheck(writer.As(&options), "QueryInterface(IQuorMediaFileWriterOptions)");
  QuorCheck(options->SetDurable(QuorVariantBool(m_options.durable)), "SetDurable");
  QuorCheck(options->SetIndexPeriod(m_options.indexPeriodSeconds), "SetIndexPeriod");
  QuorCheck(writer->StartRecording(), "StartRecording");

  const ULONGLONG durationUs = static_cast<ULONGLONG>(
      std::llround(std::max(0.0, m_options.durationSeconds) * kQuorTicksPerSecond));
  const ULONGLONG headBytes = Poll(writer.Get()).bytesTotal;
  CQuorSyntheticSource source(durationUs);
  QuorSyntheticSample next;
  QuorRecordResult result;
  ULONGLONG expectedBytes = headBytes;
  unsigned lastPercent = 101;
  const Clock::time_point start = Clock::now();
  while (!CQuorInterruptScope::Interrupted() && source.Next(&next)) {
    if (m_options.realtime)
      std::this_thread::sleep_until(start + std::chrono::microseconds(next.timestamp));
    // Keep the queue short: the writer copies each sample, so an unthrottled source would hold
    // the whole recording in memory.
    WriterProgress progress = Poll(writer.Get());
    while (progress.state == wseStarted && expectedBytes > progress.bytesTotal + kMaxQueuedBytes) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      progress = Poll(writer.Get());
    }
    if (progress.state == wseFinished) {
      result.stoppedFull = true;
      break;
    }

    auto sample = QuorCreate<IQuorMediaFileSample>(CLSID_QuorMediaFileSample);
    QuorCheck(sample->SetTimestamp(next.timestamp), "SetTimestamp");
    QuorCheck(sample->SetFlags(QuorVariantBool(next.keyFrame), QuorVariantBool(next.video),
                               QuorVariantBool(next.audio)),
              "SetFlags");
    CQuorSafeArray payload = QuorByteArray(next.payload);
    SAFEARRAY* payloadArray = payload.Get();
    QuorCheck(sample->SetPayloadData(&payloadArray), "SetPayloadData");
    QuorCheck(writer->Write(next.trackId, sample.Get()), "Write");
    expectedBytes += next.payload.size() + kSampleBlockOverhead;
    ++result.samplesWritten;
    result.payloadBytes += next.payload.size();
    if (m_onSample) m_onSample(next);
    const unsigned percent =
        durationUs == 0 ? 100 : static_cast<unsigned>(next.timestamp * 100 / durationUs);
    if (m_onProgress && percent != lastPercent) m_onProgress(lastPercent = percent);
  }

  // Wait for the worker to write what is queued: StopRecording closes the file at once.
  WriterProgress progress = Poll(writer.Get());
  ULONGLONG lastSeen = 0;
  int stablePolls = 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
  while (progress.state == wseStarted && Clock::now() < deadline) {
    if (progress.bytesTotal >= expectedBytes && progress.bytesTotal == lastSeen) {
      if (++stablePolls >= 3) break;
    } else {
      stablePolls = 0;
    }
    lastSeen = progress.bytesTotal;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    progress = Poll(writer.Get());
  }
  if (progress.state == wseFinished) result.stoppedFull = true;
  result.interrupted = CQuorInterruptScope::Interrupted();
  result.filesWritten = progress.fileIndex + 1;
  QuorCheck(writer->StopRecording(), "StopRecording");
  result.bytesOnDisk = Poll(writer.Get()).bytesTotal;
  if (m_onProgress) m_onProgress(100);
  return result;
}
