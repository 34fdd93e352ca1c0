#include "QuorFileSetReport.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "QuorToolText.h"
#include "quormediafiles/QuorMediaFilesCpp.h"

void QuorRefuseNonRegularFile(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status) || std::filesystem::is_regular_file(status)) {
    return;  // the library reports a missing or unreadable file
  }
  throw CQuorError(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), "open",
                   path +
                       " is not a regular file (a directory, FIFO, device or socket is never "
                       "a member file)");
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
  return files;
}

namespace {

void ReadMetadata(IQuorTrackMetadata* metadata, QuorTrackReport& track) {
  track.name = QuorGetString([&](BSTR* p) { return metadata->GetTrackName(p); }, "GetTrackName");
  track.sourceId =
      QuorGetOptional<ULONG>([&](ULONG* p) { return metadata->GetSourceId(p); }, "GetSourceId");
  track.pairId =
      QuorGetOptional<ULONG>([&](ULONG* p) { return metadata->GetPairId(p); }, "GetPairId");
  track.sourceUrl =
      QuorGetOptionalString([&](BSTR* p) { return metadata->GetSourceUrl(p); }, "GetSourceUrl");
  track.mediaSessionPlugin = QuorGetOptionalString(
      [&](BSTR* p) { return metadata->GetMediaSessionPlugin(p); }, "GetMediaSessionPlugin");
  track.videoFormat = QuorGetOptionalString(
      [&](BSTR* p) { return metadata->GetVideoFormatIdentifier(p); }, "GetVideoFormatIdentifier");
  track.audioFormat = QuorGetOptionalString(
      [&](BSTR* p) { return metadata->GetAudioFormatIdentifier(p); }, "GetAudioFormatIdentifier");
  track.video =
      QuorIsTrue(QuorGetOptional<VARIANT_BOOL>(
                     [&](VARIANT_BOOL* p) { return metadata->GetVideoFlag(p); }, "GetVideoFlag")
                     .value_or(VARIANT_FALSE));
  track.audio =
      QuorIsTrue(QuorGetOptional<VARIANT_BOOL>(
                     [&](VARIANT_BOOL* p) { return metadata->GetAudioFlag(p); }, "GetAudioFlag")
                     .value_or(VARIANT_FALSE));
  track.authentic =
      QuorIsTrue(QuorGetOptional<VARIANT_BOOL>(
                     [&](VARIANT_BOOL* p) { return metadata->IsAuthentic(p); }, "IsAuthentic")
                     .value_or(VARIANT_FALSE));
}

QuorTrackReport ReportTrack(IQuorMediaFileReader* reader, ULONG id, bool countSamples) {
  QuorTrackReport track;
  track.id = id;
  CQuorComPtr<IQuorTrackMetadata> metadata;
  // A track the reader cannot describe still has its timestamps and samples to show.
  if (const HRESULT hr = reader->GetTrackMetadata(id, metadata.AddressOf()); FAILED(hr)) {
    (void)QuorTakeErrorDescription();  // (void): the code is what the report shows
    track.metadataError = hr;
  } else {
    ReadMetadata(metadata.Get(), track);
  }
  track.firstTimestamp = QuorGetOptional<ULONGLONG>(
      [&](ULONGLONG* p) { return reader->GetFirstTimeStamp(id, p); }, "GetFirstTimeStamp");
  track.lastTimestamp = QuorGetOptional<ULONGLONG>(
      [&](ULONGLONG* p) { return reader->GetLastTimeStamp(id, p); }, "GetLastTimeStamp");
  if (!countSamples || !track.firstTimestamp) return track;

  CQuorComPtr<IQuorMediaFileSample> sample;
  QuorCheck(reader->MoveTo(id, *track.firstTimestamp, sample.AddressOf()), "MoveTo");
  while (sample) {
    VARIANT_BOOL key = VARIANT_FALSE, video = VARIANT_FALSE, audio = VARIANT_FALSE;
    QuorCheck(sample->GetFlags(&key, &video, &audio), "GetFlags");
    CQuorSafeArray payload;
    if (SUCCEEDED(sample->GetPayloadData(payload.AddressOf()))) {
      track.payloadBytes += payload.Count();
    }
    ++track.samples;
    if (QuorIsTrue(key)) ++track.keyFrames;
    const HRESULT hr = reader->MoveNext(id, sample.AddressOf());
    if (hr == MFS_E_NO_VALUE) {
      (void)QuorTakeErrorDescription();  // (void): the end of the track
      break;
    }
    QuorCheck(hr, "MoveNext");
  }
  return track;
}

}  // namespace

QuorFileSetReport QuorReportFileSet(IQuorMediaFileReader* reader, bool countSamples) {
  QuorFileSetReport report;
  report.files = QuorReportFiles(reader);

  CQuorComPtr<IQuorFileSetMetadata> metadata;
  QuorCheck(reader->GetFileSetMetadata(metadata.AddressOf()), "GetFileSetMetadata");
  report.guid =
      QuorGetOptionalString([&](BSTR* p) { return metadata->GetFileSetGuid(p); }, "GetFileSetGuid")
          .value_or("");
  report.creationTime =
      QuorGetOptional<ULONGLONG>([&](ULONGLONG* p) { return metadata->GetFileSetCreationTime(p); },
                                 "GetFileSetCreationTime")
          .value_or(0);
  report.description = QuorGetOptionalString(
      [&](BSTR* p) { return metadata->GetFileSetDescription(p); }, "GetFileSetDescription");
  report.passwordProtected = QuorIsTrue(
      QuorGetOptional<VARIANT_BOOL>(
          [&](VARIANT_BOOL* p) { return metadata->IsPasswordProtected(p); }, "IsPasswordProtected")
          .value_or(VARIANT_FALSE));
  report.complete = QuorIsTrue(
      QuorGetOptional<VARIANT_BOOL>([&](VARIANT_BOOL* p) { return metadata->IsFileSetComplete(p); },
                                    "IsFileSetComplete")
          .value_or(VARIANT_FALSE));

  CQuorSafeArray ids;
  const HRESULT hr = reader->GetTrackIds(ids.AddressOf());
  if (hr == MFS_E_NO_VALUE) {
    (void)QuorTakeErrorDescription();  // (void): a fileset without tracks
    return report;
  }
  QuorCheck(hr, "GetTrackIds");
  for (ULONG id : QuorU32Vector(ids.Get())) {
    report.tracks.push_back(ReportTrack(reader, id, countSamples));
  }
  return report;
}

nlohmann::ordered_json QuorToJson(const QuorMemberFileReport& file) {
  nlohmann::ordered_json j;
  j["name"] = file.name;
  j["fileset_index"] = file.filesetIndex;
  j["flags"] = file.flags;
  j["status"] = QuorStatusWords(file.flags);
  return j;
}

nlohmann::ordered_json QuorToJson(const QuorFileSetReport& report) {
  nlohmann::ordered_json j;
  nlohmann::ordered_json fileset;
  fileset["guid"] = report.guid;
  fileset["creation_time"] = report.creationTime;
  fileset["creation_time_utc"] = QuorUtcTime(report.creationTime);
  fileset["description"] = report.description ? nlohmann::ordered_json(*report.description)
                                              : nlohmann::ordered_json(nullptr);
  fileset["password_protected"] = report.passwordProtected;
  fileset["complete"] = report.complete;
  j["fileset"] = fileset;
  j["files"] = nlohmann::ordered_json::array();
  for (const QuorMemberFileReport& file : report.files) j["files"].push_back(QuorToJson(file));
  j["tracks"] = nlohmann::ordered_json::array();
  for (const QuorTrackReport& t : report.tracks) {
    nlohmann::ordered_json track;
    track["id"] = t.id;
    track["name"] = t.name;
    track["video"] = t.video;
    track["audio"] = t.audio;
    auto optional = [&](const char* key, const auto& value) {
      if (value) track[key] = *value;
    };
    optional("source_id", t.sourceId);
    optional("pair_id", t.pairId);
    optional("source_url", t.sourceUrl);
    optional("media_session_plugin", t.mediaSessionPlugin);
    if (t.videoFormat) {
      track["video_format"] = *t.videoFormat;
      track["video_format_name"] = QuorFormatName(*t.videoFormat);
    }
    if (t.audioFormat) {
      track["audio_format"] = *t.audioFormat;
      track["audio_format_name"] = QuorFormatName(*t.audioFormat);
    }
    track["authentic"] = t.authentic;
    if (t.metadataError) track["metadata_error"] = QuorResultCodeText(*t.metadataError);
    optional("first_timestamp", t.firstTimestamp);
    optional("last_timestamp", t.lastTimestamp);
    track["samples"] = t.samples;
    track["key_frames"] = t.keyFrames;
    track["payload_bytes"] = t.payloadBytes;
    j["tracks"].push_back(track);
  }
  return j;
}

std::string QuorBaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void QuorPrintReport(const QuorFileSetReport& report) {
  std::printf("fileset %s\n", report.guid.empty() ? "(single file)" : report.guid.c_str());
  std::printf("  created      %s\n", QuorUtcTime(report.creationTime).c_str());
  std::printf("  description  %s\n", report.description ? report.description->c_str() : "-");
  std::printf("  password     %s\n", report.passwordProtected ? "yes" : "no");
  std::printf("  complete     %s\n", report.complete ? "yes" : "no");
  std::printf("files (%zu)\n", report.files.size());
  for (const QuorMemberFileReport& file : report.files) {
    std::printf("  #%-3u %-28s %s\n", static_cast<unsigned>(file.filesetIndex),
                QuorBaseName(file.name).c_str(),
                QuorJoin(QuorStatusWords(file.flags), ", ").c_str());
  }
  std::printf("tracks (%zu)\n", report.tracks.size());
  for (const QuorTrackReport& t : report.tracks) {
    std::string kind = t.video && t.audio ? "video+audio" : t.video ? "video" : "audio";
    std::string format;
    if (t.videoFormat) format += QuorFormatName(*t.videoFormat);
    if (t.audioFormat) format += (format.empty() ? "" : "+") + QuorFormatName(*t.audioFormat);
    if (t.metadataError) {
      std::printf("  track %u (metadata unreadable: %s)\n", static_cast<unsigned>(t.id),
                  QuorResultCodeText(*t.metadataError).c_str());
    } else {
      std::printf("  track %u \"%s\" %s %s%s\n", static_cast<unsigned>(t.id), t.name.c_str(),
                  kind.c_str(), format.c_str(), t.authentic ? "" : " (track info damaged)");
    }
    if (t.sourceUrl) std::printf("    source     %s\n", t.sourceUrl->c_str());
    if (t.pairId) std::printf("    paired     with track %u\n", static_cast<unsigned>(*t.pairId));
    if (t.firstTimestamp && t.lastTimestamp) {
      std::printf("    timestamps %llu .. %llu\n",
                  static_cast<unsigned long long>(*t.firstTimestamp),
                  static_cast<unsigned long long>(*t.lastTimestamp));
      std::printf("    samples    %llu (%llu key), %s of payload\n",
                  static_cast<unsigned long long>(t.samples),
                  static_cast<unsigned long long>(t.keyFrames),
                  QuorByteCount(t.payloadBytes).c_str());
    } else {
      std::printf("    samples    none\n");
    }
  }
}
