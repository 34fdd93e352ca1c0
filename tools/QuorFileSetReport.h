// What quormf knows about an open fileset: its member files with their status, the fileset
// metadata, and per track its metadata, first and last timestamp and sample counts, read through
// quor::Reader; printed as text or as JSON. Failures throw quor::Error.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "quormediafiles/QuorMediaFiles.h"
#include "quormediafiles/quor.hpp"

// A member file as verify and salvage report it (fileset index and status bits).
struct QuorMemberFileReport {
  std::string name;
  ULONG filesetIndex = 0;
  ULONG flags = 0;  // quor::FileStatus bits
};

struct QuorTrackReport {
  quor::TrackInfo info;              // with its counts
  std::uint64_t damagedSamples = 0;  // failing their block hash, or unreadable
};

struct QuorFileSetReport {
  quor::FileSetInfo fileset;  // files by fileset index
  std::vector<QuorTrackReport> tracks;
};

// Throws quor::Error naming path when it exists and is not a regular file, before anything
// tries to open it.
void QuorRefuseNonRegularFile(const std::string& path);
// A new reader object with the fileset of path open (password empty: none), for what only the
// objects give (authentication with the tool's progress and Ctrl-C); path must be a regular file.
CQuorComPtr<IQuorMediaFileReader> QuorOpenFileSet(const std::string& path,
                                                  const std::string& password);

// The member files and their status as the reader object sees them now, by fileset index.
std::vector<QuorMemberFileReport> QuorReportFiles(IQuorMediaFileReader* reader);

// Counts every track's samples as quormf samples lists them, and checks every sample block's
// hash.
QuorFileSetReport QuorReportFileSet(const quor::Reader& reader);

nlohmann::ordered_json QuorToJson(const QuorFileSetReport& report);
nlohmann::ordered_json QuorToJson(const QuorMemberFileReport& file);
void QuorPrintReport(const QuorFileSetReport& report);

// The file part of a path ("/a/b/cam.qmf" -> "cam.qmf").
std::string QuorBaseName(const std::string& path);
