// What quormf knows about an open fileset: its member files with their status, the fileset
// metadata, and per track its metadata, first and last timestamp and sample count. Built from a
// reader object through its public interface; printed as text or as JSON. Failures throw
// CQuorError.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "quormediafiles/QuorMediaFiles.h"

struct QuorMemberFileReport {
  std::string name;
  ULONG filesetIndex = 0;
  ULONG flags = 0;
};

struct QuorTrackReport {
  ULONG id = 0;
  std::string name;
  std::optional<ULONG> sourceId;
  std::optional<ULONG> pairId;
  std::optional<std::string> sourceUrl;
  std::optional<std::string> mediaSessionPlugin;
  std::optional<std::string> videoFormat;
  std::optional<std::string> audioFormat;
  bool video = false;
  bool audio = false;
  bool authentic = false;
  std::optional<ULONGLONG> firstTimestamp;  // absent for a track without samples
  std::optional<ULONGLONG> lastTimestamp;
  ULONGLONG samples = 0;
  ULONGLONG keyFrames = 0;
  ULONGLONG payloadBytes = 0;
  // Why the reader gave no metadata (a format identifier outside its table, say); the fields
  // above it are then unset.
  std::optional<HRESULT> metadataError;
};

struct QuorFileSetReport {
  std::vector<QuorMemberFileReport> files;
  std::string guid;
  ULONGLONG creationTime = 0;
  std::optional<std::string> description;
  bool passwordProtected = false;
  bool complete = false;
  std::vector<QuorTrackReport> tracks;
};

// Throws CQuorError naming path when it exists and is not a regular file, before anything
// tries to open it.
void QuorRefuseNonRegularFile(const std::string& path);
// A new reader with the fileset of path open (password empty: none); path must be a regular file.
CQuorComPtr<IQuorMediaFileReader> QuorOpenFileSet(const std::string& path,
                                                  const std::string& password);

// The member files and their status as the reader sees them now.
std::vector<QuorMemberFileReport> QuorReportFiles(IQuorMediaFileReader* reader);

// countSamples walks every track from its first to its last sample (reading each payload).
QuorFileSetReport QuorReportFileSet(IQuorMediaFileReader* reader, bool countSamples);

nlohmann::ordered_json QuorToJson(const QuorFileSetReport& report);
nlohmann::ordered_json QuorToJson(const QuorMemberFileReport& file);
void QuorPrintReport(const QuorFileSetReport& report);

// The file part of a path ("/a/b/cam.qmf" -> "cam.qmf").
std::string QuorBaseName(const std::string& path);
