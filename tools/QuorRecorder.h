// CQuorRecorder: records the synthetic two-track source into a fileset through quor::Writer, the
// way an application would: create with the limits, tracks and options, write per sample, stop.
//
// write only queues a sample; the recorder keeps at most kMaxQueuedBytes of payload ahead of
// what the writer's status reports as written, and stop() writes what is queued before it
// closes the last file. SIGINT and SIGTERM stop the source early and the fileset is finalized as
// at its end. With overwrite, the members of the fileset already at the path are removed first,
// unless another quormf is recording into it (each recorder holds an advisory lock on its first
// member file): that throws std::runtime_error. Failures throw quor::Error. One thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "QuorSyntheticSource.h"
#include "quormediafiles/platform/QuorTypes.h"
#include "quormediafiles/quor.hpp"

// The flags a synthetic or imported sample is written with.
quor::SampleFlags QuorFlagsOf(const QuorMediaSample& sample) noexcept;

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
  std::string signingKey;  // private key file: seal every member file (empty: no seals)
};

struct QuorRecordResult {
  ULONGLONG samplesWritten = 0;  // handed to the writer, the dropped ones included
  // Handed over but in no file: too large for a member file, or queued after the fileset or the
  // disk filled up (the writer's count).
  ULONGLONG samplesDropped = 0;
  ULONGLONG payloadBytes = 0;
  ULONGLONG bytesOnDisk = 0;
  ULONG filesWritten = 0;
  bool stoppedFull = false;  // the last file or the disk filled up before the source ended
  bool interrupted = false;  // SIGINT or SIGTERM stopped the source; the fileset is finalized
};

class CQuorRecorder {
 public:
  static constexpr ULONGLONG kMaxQueuedBytes = 16ull << 20;

  explicit CQuorRecorder(QuorRecordOptions options) : m_options(std::move(options)) {}

  // Called for every sample that reached a member file. Setting it makes the recorder wait for
  // each sample to be written before the next, to tell written samples from dropped ones.
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
