#include "QuorRecorder.h"

#include <chrono>
#include <cmath>
#include <thread>

#include "quormediafiles/QuorFormatIds.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "quormediafiles/platform/QuorGuid.h"

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

CQuorComPtr<IQuorTrackMetadata> MakeTrack(const QuorRecordTrack& spec) {
  auto track = QuorCreate<IQuorTrackMetadata>(CLSID_QuorTrackMetadata);
  QuorCheck(track->SetTrackId(spec.id), "SetTrackId");
  QuorCheck(track->SetTrackName(QuorBstr(spec.name).Get()), "SetTrackName");
  QuorCheck(track->SetSourceId(spec.sourceId), "SetSourceId");
  if (!spec.sourceUrl.empty()) {
    QuorCheck(track->SetSourceUrl(QuorBstr(spec.sourceUrl).Get()), "SetSourceUrl");
  }
  if (spec.pairId) QuorCheck(track->SetPairId(*spec.pairId), "SetPairId");
  QuorCheck(track->SetVideoFlag(QuorVariantBool(spec.video)), "SetVideoFlag");
  QuorCheck(track->SetAudioFlag(QuorVariantBool(!spec.video)), "SetAudioFlag");
  const CQuorBstr formatText = QuorBstr(QuorGuidToString(spec.format));
  if (spec.video) {
    QuorCheck(track->SetVideoFormatIdentifier(formatText.Get()), "SetVideoFormatIdentifier");
  } else {
    QuorCheck(track->SetAudioFormatIdentifier(formatText.Get()), "SetAudioFormatIdentifier");
  }
  return track;
}

}  // namespace

QuorRecordResult CQuorRecorder::Record() {
  const std::vector<QuorRecordTrack> tracks = {
      {kQuorVideoTrackId, "camera", 1, "synthetic://camera", true, kQuorFormatVideoH264, {}},
      {kQuorAudioTrackId, "microphone", 2, "synthetic://microphone", false, kQuorFormatAudioAac,
       kQuorVideoTrackId}};
  const ULONGLONG durationUs = static_cast<ULONGLONG>(
      std::llround(std::max(0.0, m_options.durationSeconds) * kQuorTicksPerSecond));
  CQuorSyntheticSource source(durationUs);
  return Record(
      tracks, [&](QuorMediaSample* sample) { return source.Next(sample); }, durationUs);
}

QuorRecordResult CQuorRecorder::Record(const std::vector<QuorRecordTrack>& tracks,
                                       const QuorSampleSource& nextSample, ULONGLONG durationUs) {
  using Clock = std::chrono::steady_clock;
  auto writer = QuorCreate<IQuorMediaFileWriter>(CLSID_QuorMediaFileWriter);
  QuorCheck(writer->Initialize(QuorBstr(m_options.path).Get(), m_options.maxSizeKiB,
                               m_options.maxFiles, QuorVariantBool(m_options.overwrite)),
            "Initialize");
  if (!m_options.description.empty()) {
    QuorCheck(writer->SetDescription(QuorBstr(m_options.description).Get()), "SetDescription");
  }
  if (!m_options.password.empty()) {
    QuorCheck(writer->SetPassword(QuorBstr(m_options.password).Get()), "SetPassword");
  }
  for (const QuorRecordTrack& track : tracks) {
    QuorCheck(writer->AddTrack(MakeTrack(track).Get()), "AddTrack");
  }
  QuorCheck(writer->StartRecording(), "StartRecording");

  const ULONGLONG headBytes = Poll(writer.Get()).bytesTotal;
  QuorMediaSample next;
  QuorRecordResult result;
  ULONGLONG expectedBytes = headBytes;
  unsigned lastPercent = 101;
  const Clock::time_point start = Clock::now();
  while (nextSample(&next)) {
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
        durationUs == 0
            ? 0
            : static_cast<unsigned>(std::min<ULONGLONG>(100, next.timestamp * 100 / durationUs));
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
  result.filesWritten = progress.fileIndex + 1;
  QuorCheck(writer->StopRecording(), "StopRecording");
  result.bytesOnDisk = Poll(writer.Get()).bytesTotal;
  if (m_onProgress) m_onProgress(100);
  return result;
}
