// CQuorRecorder: records samples into a fileset through a writer object
// (CLSID_QuorMediaFileWriter), the way an application would: Initialize, description, password,
// AddTrack per track, StartRecording, Write per sample, StopRecording. The samples come from the
// synthetic two-track source or from a caller's source (quormf import).
//
// Write only queues a sample; the recorder keeps at most kMaxQueuedBytes of payload ahead of
// what the writer's status reports as written, and before StopRecording waits until the queue
// has reached the disk, so that no sample is dropped by the stop. Failures throw CQuorError.
// One thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "QuorSyntheticSource.h"
#include "quormediafiles/platform/QuorTypes.h"

struct QuorRecordOptions {
  std::string path;  // member file 0; the others are named after it
  ULONG maxSizeKiB = 512;
  ULONG maxFiles = 8;
  bool overwrite = false;
  std::string password;  // empty: none
  std::string description;
  double durationSeconds = 8.0;
  bool realtime = false;  // pace the samples at their timestamps
};

// One track of a recording, as AddTrack receives it.
struct QuorRecordTrack {
  ULONG id = 0;
  std::string name;
  ULONG sourceId = 0;
  std::string sourceUrl;  // empty: none
  bool video = false;     // else audio
  GUID format{};
  std::optional<ULONG> pairId;
};

// Hands out the next sample; false at the end.
using QuorSampleSource = std::function<bool(QuorMediaSample*)>;

struct QuorRecordResult {
  ULONGLONG samplesWritten = 0;  // handed to Write (a full fileset drops the last ones)
  ULONGLONG payloadBytes = 0;
  ULONGLONG bytesOnDisk = 0;
  ULONG filesWritten = 0;
  bool stoppedFull = false;  // the last file or the disk filled up before the source ended
};

class CQuorRecorder {
 public:
  static constexpr ULONGLONG kMaxQueuedBytes = 16ull << 20;

  explicit CQuorRecorder(QuorRecordOptions options) : m_options(std::move(options)) {}

  // Called for every sample that Write accepted before the recording ended.
  void OnSample(std::function<void(const QuorMediaSample&)> callback) {
    m_onSample = std::move(callback);
  }
  // Called now and then with the percentage of the source written.
  void OnProgress(std::function<void(unsigned)> callback) { m_onProgress = std::move(callback); }

  // Records the synthetic camera and microphone for options.durationSeconds.
  QuorRecordResult Record();
  // Records the samples of next for tracks; durationUs (0: unknown) is the span of timestamps the
  // progress callback measures against.
  QuorRecordResult Record(const std::vector<QuorRecordTrack>& tracks, const QuorSampleSource& next,
                          ULONGLONG durationUs);

 private:
  QuorRecordOptions m_options;
  std::function<void(const QuorMediaSample&)> m_onSample;
  std::function<void(unsigned)> m_onProgress;
};
