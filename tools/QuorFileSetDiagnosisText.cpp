#include "QuorFileSetDiagnosisText.h"

#include <cstdio>
#include <stdexcept>

#include "QuorFileSetReport.h"

namespace {

using Json = nlohmann::ordered_json;

// Why a member of the fileset is not among the files the reader opens.
std::string NotReachedReason(const CQuorFileSetDiagnosis& diagnosis) {
  if (diagnosis.m_scanStoppedAt.empty()) return "the reader's directory scan did not list it";
  const QuorCandidateFile* stopper = nullptr;
  for (const QuorCandidateFile& f : diagnosis.m_files) {
    if (f.path == diagnosis.m_scanStoppedAt) stopper = &f;
  }
  return "the reader's directory scan stopped at " + QuorBaseName(diagnosis.m_scanStoppedAt) +
         (stopper && !stopper->problem.empty() ? " (" + stopper->problem + ")" : "");
}

std::string Describe(const CQuorFileSetDiagnosis& diagnosis, const QuorCandidateFile& f) {
  std::string text;
  switch (f.kind) {
    case QuorCandidateKind::ckMember:
      text = "member #" + (f.filesetIndex ? std::to_string(*f.filesetIndex) : std::string("?"));
      if (!f.reached) text += ", NOT REACHED: " + NotReachedReason(diagnosis);
      break;
    case QuorCandidateKind::ckOtherFileSet:
      text = "member of another fileset " + f.guid;
      break;
    default:
      return "UNREADABLE: " + f.problem;
  }
  if (!f.problem.empty()) text += " (" + f.problem + ")";
  return text;
}

}  // namespace

CQuorFileSetDiagnosis QuorDiagnose(const std::string& path) {
  CQuorFileSetDiagnosis diagnosis;
  // (void): a directory that cannot be listed leaves the diagnosis empty; the open that follows
  // reports the failure.
  (void)diagnosis.Diagnose(path);
  return diagnosis;
}

CQuorComPtr<IQuorMediaFileReader> QuorOpenExplained(const std::string& path,
                                                    const std::string& password,
                                                    const CQuorFileSetDiagnosis& diagnosis) {
  try {
    return QuorOpenFileSet(path, password);
  } catch (const CQuorError& e) {
    std::string text = std::string(e.what()) + ", opening the fileset of " + path;
    const QuorCandidateFile named = CQuorFileSetDiagnosis::Inspect(path);
    if (!named.problem.empty()) text += "\n  " + QuorBaseName(path) + ": " + named.problem;
    const bool protectedSet = !named.passwordHash.empty();
    if (e.Code() == MFS_E_BAD_PASSWORD) {
      text += password.empty() ? "\n  the fileset is password protected: give --password"
                               : "\n  the password does not match";
      if (protectedSet && !password.empty()) {
        text += " (quormf salvage tries every member's stored password hash)";
      }
    }
    for (const QuorCandidateFile* member : diagnosis.Members()) {
      if (member->path != path && member->problem.empty()) {
        text += "\n  try another member: " + member->path + ", or quormf salvage";
        break;
      }
    }
    throw std::runtime_error(text);
  }
}

Json QuorToJson(const CQuorFileSetDiagnosis& diagnosis) {
  Json j;
  j["guid"] = diagnosis.m_guid;
  j["files"] = Json::array();
  Json notReached = Json::array();
  for (const QuorCandidateFile& f : diagnosis.m_files) {
    Json file;
    file["name"] = f.path;
    file["kind"] = QuorCandidateKindName(f.kind);
    file["fileset_index"] = f.filesetIndex ? Json(*f.filesetIndex) : Json();
    file["guid"] = f.guid.empty() ? Json() : Json(f.guid);
    file["size"] = f.size;
    file["problem"] = f.problem.empty() ? Json() : Json(f.problem);
    file["reached"] = f.reached;
    if (f.kind == QuorCandidateKind::ckMember && !f.reached) {
      notReached.push_back({{"name", f.path}, {"reason", NotReachedReason(diagnosis)}});
    }
    j["files"].push_back(file);
  }
  j["not_reached"] = notReached;
  j["scan_stopped_at"] =
      diagnosis.m_scanStoppedAt.empty() ? Json() : Json(diagnosis.m_scanStoppedAt);
  j["missing_indexes"] = diagnosis.m_missingIndexes;
  return j;
}

void QuorPrintDiagnosis(const CQuorFileSetDiagnosis& diagnosis) {
  if (diagnosis.m_files.empty()) return;
  std::printf("directory (%zu file%s with the extension)\n", diagnosis.m_files.size(),
              diagnosis.m_files.size() == 1 ? "" : "s");
  for (const QuorCandidateFile& f : diagnosis.m_files) {
    std::printf("  %-28s %s\n", QuorBaseName(f.path).c_str(), Describe(diagnosis, f).c_str());
  }
  if (!diagnosis.m_missingIndexes.empty()) {
    std::string indexes;
    for (DWORD i : diagnosis.m_missingIndexes)
      indexes += (indexes.empty() ? "#" : ", #") + std::to_string(i);
    std::printf("  MISSING members: %s\n", indexes.c_str());
  }
}

Json QuorToJson(const QuorSalvageReport& report) {
  Json j;
  j["source_guid"] = report.sourceGuid;
  j["source_description"] = report.sourceDescription ? Json(*report.sourceDescription) : Json();
  j["description"] = report.description;
  j["samples_written"] = report.samplesWritten;
  j["payload_bytes"] = report.payloadBytes;
  j["output_full"] = report.outputFull;
  Json tracks = Json::object();
  for (const auto& [id, count] : report.samplesPerTrack) tracks[std::to_string(id)] = count;
  j["samples_per_track"] = tracks;
  j["files"] = Json::array();
  for (const QuorSalvagedFile& f : report.files) {
    j["files"].push_back({{"name", f.file},
                          {"fileset_index", f.filesetIndex ? Json(*f.filesetIndex) : Json()},
                          {"blocks", f.blocks},
                          {"samples_taken", f.samples},
                          {"walk_end", f.end}});
  }
  j["lost"] = Json::array();
  for (const QuorSalvageLoss& l : report.lost) {
    Json loss{{"file", l.file}, {"offset", l.offset}, {"length", l.length}, {"reason", l.reason}};
    if (l.trackId) loss["track"] = *l.trackId;
    if (l.timestamp) loss["timestamp"] = *l.timestamp;
    j["lost"].push_back(loss);
  }
  return j;
}
