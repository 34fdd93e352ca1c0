// CQuorRecorder: records the synthetic two-track source into a fileset through a writer object
// (CLSID_QuorMediaFileWriter), the way an application would: Initialize, description, password,
// AddTrack per track, StartRecording, Write per sample, StopRecording.
//
// Write only queues a sample; the recorder keeps at most kMaxQueuedBytes of payload ahead of
// what the writer's status reports as written, and before StopRecording waits until the queue
// has reached the disk, so that no sample is dropped by the stop. Failures throw CQuorError.
// One thread.
#pragma once

#include <functional>
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
  bool durable = false;   // sync each head, index and closing block to the device
  ULONG indexPeriodSeconds = 60;
};

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
  void OnSample(std::function<void(const QuorSyntheticSample&)> callback) {
    m_onSample = std::move(callback);
  }
  // Called now and then with the percentage of the source written.
  void OnProgress(std::function<void(unsigned)> callback) { m_onProgress = std::move(callback); }

  QuorRecordResult Record();

 private:
  QuorRecordOptions m_options;
  std::function<void(const QuorSyntheticSample&)> m_onSample;
  std::function<void(unsigned)> m_onProgress;
};
