#include "QuorFileSetReport.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "QuorSampleWalk.h"
#include "QuorToolText.h"
#include "quormediafiles/QuorMediaFilesCpp.h"

void QuorRefuseNonRegularFile(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status) || std::filesystem::is_regular_file(status)) {
    return;  // the library reports a missing or unreadable file
  }
  const char* what = std::filesystem::is_directory(status) ? "a directory" : "not a regular file";
  throw quor::Error(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), "open",
                    path + " is " + what +
                        " (a directory, FIFO, device or socket is never a member file); give "
                        "one of the fileset's member files");
}

CQuorComPtr<IQuorMediaFileReader> QuorOpenFileSet(const std::string& path,
                                                  const std::string& password) {
  QuorRefuseNonRegularFile(path);
  auto reader = QuorCreate<IQuorMediaFileReader>(CLSID_QuorMediaFileReader);
  CQuorBstr passwordText;
  if (!password.empty()) passwordText = QuorBstr(password);
  QuorCheck(reader->OpenFileSet(QuorBstr(path).Get(), passwordText.Get()), "OpenFileSet");
  return reader;
}

std::vector<QuorMemberFileReport> QuorReportFiles(IQuorMediaFileReader* reader) {
  CQuorSafeArray names;
  QuorCheck(reader->GetFileNames(names.AddressOf()), "GetFileNames");
  std::vector<QuorMemberFileReport> files;
  for (const std::string& name : QuorStringVector(names.Get())) {
    CQuorComPtr<IQuorMediaFileStatus> status;
    QuorCheck(reader->GetFileStatus(QuorBstr(name).Get(), status.AddressOf()), "GetFileStatus");
    QuorMemberFileReport file;
    file.name = name;
    QuorCheck(status->GetFileIndex(&file.filesetIndex), "GetFileIndex");
    QuorCheck(status->GetStatusFlags(&file.flags), "GetStatusFlags");
    files.push_back(std::move(file));
  }
  std::stable_sort(files.begin(), files.end(),
                   [](const auto& a, const auto& b) { return a.filesetIndex < b.filesetIndex; });
  return files;
}

QuorFileSetReport QuorReportFileSet(const quor::Reader& reader) {
  QuorFileSetReport report;
  report.fileset = reader.info();
  std::stable_sort(report.fileset.files.begin(), report.fileset.files.end(),
                   [](const quor::MemberFile& a, const quor::MemberFile& b) {
                     return a.filesetIndex.value_or(0) < b.filesetIndex.value_or(0);
                   });
  std::vector<quor::TrackInfo> tracks;
  try {
    tracks = reader.tracks(quor::TrackDetail::Counts);
  } catch (const quor::Error& e) {
    if (e.code() != MFS_E_NO_VALUE) throw;  // else a fileset without tracks
  }
  if (tracks.empty()) return report;
  // The reader does not judge block hashes: the sample check reads every indexed sample block.
  CQuorSampleCheck check;
  QuorLoadSampleCheck(reader, &check);
  for (quor::TrackInfo& info : tracks) {
    QuorTrackReport track;
    for (const CQuorSampleCheck::Entry* e = check.LowerBound(info.id, 0); e;
         e = check.Next(info.id, e)) {
      if (!check.IsIntact(*e)) ++track.damagedSamples;
    }
    track.info = std::move(info);
    report.tracks.push_back(std::move(track));
  }
  return report;
}

namespace {

nlohmann::ordered_json FileJson(const std::string& name, ULONG filesetIndex,
                                quor::FileStatus status) {
  nlohmann::ordered_json j;
  j["name"] = name;
  j["fileset_index"] = filesetIndex;
  j["flags"] = static_cast<ULONG>(status);
  j["status"] = quor::words(status);
  return j;
}

}  // namespace

nlohmann::ordered_json QuorToJson(const QuorMemberFileReport& file) {
  return FileJson(file.name, file.filesetIndex, static_cast<quor::FileStatus>(file.flags));
}

nlohmann::ordered_json QuorToJson(const QuorFileSetReport& report) {
  using Json = nlohmann::ordered_json;
  const quor::FileSetInfo& set = report.fileset;
  Json j;
  Json fileset;
  fileset["guid"] = set.guid;
  fileset["creation_time"] = set.creationTime.value_or(0);
  fileset["creation_time_utc"] = QuorUtcTime(set.creationTime.value_or(0));
  fileset["description"] = set.description.empty() ? Json(nullptr) : Json(set.description);
  fileset["password_protected"] = set.passwordProtected;
  fileset["complete"] = set.complete;
  j["fileset"] = fileset;
  j["files"] = Json::array();
  for (const quor::MemberFile& file : set.files) {
    j["files"].push_back(FileJson(file.name, file.filesetIndex.value_or(0), file.status));
  }
  j["tracks"] = Json::array();
  for (const QuorTrackReport& r : report.tracks) {
    const quor::TrackInfo& t = r.info;
    Json track;
    track["id"] = t.id;
    track["name"] = t.name;
    track["video"] = t.video;
    track["audio"] = t.audio;
    auto optional = [&](const char* key, const auto& value) {
      if (value) track[key] = *value;
    };
    auto text = [&](const char* key, const std::string& value) {
      if (!value.empty()) track[key] = value;
    };
    optional("source_id", t.sourceId);
    optional("pair_id", t.pairId);
    text("source_url", t.sourceUrl);
    text("media_session_plugin", t.mediaSessionPlugin);
    if (!t.videoFormat.empty()) {
      track["video_format"] = t.videoFormat;
      track["video_format_name"] = t.videoFormatName;
    }
    if (!t.audioFormat.empty()) {
      track["audio_format"] = t.audioFormat;
      track["audio_format_name"] = t.audioFormatName;
    }
    track["authentic"] = t.authentic;
    if (t.metadataError) track["metadata_error"] = QuorResultCodeText(*t.metadataError);
    optional("first_timestamp", t.firstTimestamp);
    optional("last_timestamp", t.lastTimestamp);
    const quor::SampleCounts counts = t.counts.value_or(quor::SampleCounts());
    track["samples"] = counts.samples;
    track["key_frames"] = counts.keyFrames;
    track["damaged_samples"] = r.damagedSamples;
    track["payload_bytes"] = counts.payloadBytes;
    j["tracks"].push_back(track);
  }
  return j;
}

std::string QuorBaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void QuorPrintReport(const QuorFileSetReport& report) {
  const quor::FileSetInfo& set = report.fileset;
  std::printf("fileset %s\n", set.guid.empty() ? "(single file)" : set.guid.c_str());
  std::printf("  created      %s\n", QuorUtcTime(set.creationTime.value_or(0)).c_str());
  std::printf("  description  %s\n", set.description.empty() ? "-" : set.description.c_str());
  std::printf("  password     %s\n", set.passwordProtected ? "yes" : "no");
  std::printf("  complete     %s\n", set.complete ? "yes" : "no");
  std::printf("files (%zu)\n", set.files.size());
  for (const quor::MemberFile& file : set.files) {
    std::printf("  #%-3u %-28s %s\n", static_cast<unsigned>(file.filesetIndex.value_or(0)),
                QuorBaseName(file.name).c_str(), QuorJoin(quor::words(file.status), ", ").c_str());
  }
  std::printf("tracks (%zu)\n", report.tracks.size());
  for (const QuorTrackReport& r : report.tracks) {
    const quor::TrackInfo& t = r.info;
    const std::string kind = t.video && t.audio ? "video+audio" : t.video ? "video" : "audio";
    std::string format = t.videoFormatName;
    if (!t.audioFormat.empty()) format += (format.empty() ? "" : "+") + t.audioFormatName;
    if (t.metadataError) {
      std::printf("  track %u (metadata unreadable: %s)\n", static_cast<unsigned>(t.id),
                  QuorResultCodeText(*t.metadataError).c_str());
    } else {
      std::printf("  track %u \"%s\" %s %s%s\n", static_cast<unsigned>(t.id), t.name.c_str(),
                  kind.c_str(), format.c_str(), t.authentic ? "" : " (track info damaged)");
    }
    if (!t.sourceUrl.empty()) std::printf("    source     %s\n", t.sourceUrl.c_str());
    if (t.pairId) std::printf("    paired     with track %u\n", static_cast<unsigned>(*t.pairId));
    if (t.firstTimestamp && t.lastTimestamp) {
      const quor::SampleCounts counts = t.counts.value_or(quor::SampleCounts());
      std::printf("    timestamps %llu .. %llu\n",
                  static_cast<unsigned long long>(*t.firstTimestamp),
                  static_cast<unsigned long long>(*t.lastTimestamp));
      std::printf("    samples    %llu (%llu key), %s of payload\n",
                  static_cast<unsigned long long>(counts.samples),
                  static_cast<unsigned long long>(counts.keyFrames),
                  QuorByteCount(counts.payloadBytes).c_str());
      if (r.damagedSamples != 0) {
        std::printf("    DAMAGED    %llu sample%s fail their block hash or cannot be read\n",
                    static_cast<unsigned long long>(r.damagedSamples),
                    r.damagedSamples == 1 ? "" : "s");
      }
    } else {
      std::printf("    samples    none\n");
    }
  }
}
