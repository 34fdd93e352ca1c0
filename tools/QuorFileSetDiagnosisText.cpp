#include "QuorFileSetDiagnosisText.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
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

// The files in natural order of their names (cam.qmf, cam1.qmf, cam2.qmf, ..., cam10.qmf): runs of
// digits compare by their value, so members come in fileset order.
std::vector<const QuorCandidateFile*> InNaturalOrder(const CQuorFileSetDiagnosis& diagnosis) {
  const auto less = [](const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t k = 0;
    while (i < a.size() && k < b.size()) {
      if (std::isdigit(static_cast<unsigned char>(a[i])) &&
          std::isdigit(static_cast<unsigned char>(b[k]))) {
        const std::size_t i0 = a.find_first_not_of('0', i);
        const std::size_t k0 = b.find_first_not_of('0', k);
        std::size_t iEnd = i;
        while (iEnd < a.size() && std::isdigit(static_cast<unsigned char>(a[iEnd]))) ++iEnd;
        std::size_t kEnd = k;
        while (kEnd < b.size() && std::isdigit(static_cast<unsigned char>(b[kEnd]))) ++kEnd;
        const std::string x = a.substr(std::min(i0, iEnd), iEnd - std::min(i0, iEnd));
        const std::string y = b.substr(std::min(k0, kEnd), kEnd - std::min(k0, kEnd));
        if (x.size() != y.size()) return x.size() < y.size();
        if (x != y) return x < y;
        if (iEnd - i != kEnd - k) return iEnd - i < kEnd - k;  // "01" after "1"
        i = iEnd;
        k = kEnd;
      } else {
        if (a[i] != b[k]) return a[i] < b[k];
        ++i;
        ++k;
      }
    }
    return a.size() - i < b.size() - k;
  };
  std::vector<const QuorCandidateFile*> files;
  files.reserve(diagnosis.m_files.size());
  for (const QuorCandidateFile& f : diagnosis.m_files) files.push_back(&f);
  std::stable_sort(files.begin(), files.end(),
                   [&](const auto* a, const auto* b) { return less(a->path, b->path); });
  return files;
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

namespace {

// Why the fileset of path does not open, in words that name the file; the first line ends with
// the result code's name. Damage (never a password problem) suggests another member and salvage.
[[noreturn]] void ExplainOpenFailure(const std::string& path, const std::string& password,
                                     const CQuorFileSetDiagnosis& diagnosis, HRESULT code,
                                     const std::string& description) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  const QuorCandidateFile named = CQuorFileSetDiagnosis::Inspect(path);
  std::string what;
  std::string detail;
  bool damage = false;
  if (!std::filesystem::exists(status)) {
    what = path + " does not exist";
  } else if (std::filesystem::is_directory(status)) {
    what = path + " is a directory, not a member file: give one of the fileset's member files";
  } else if (!std::filesystem::is_regular_file(status)) {
    what = path + " is not a regular file (a FIFO, device or socket is never a member file)";
  } else if (code == MFS_E_BAD_PASSWORD) {
    // Members whose stored password hashes disagree: one of them is damaged.
    const QuorCandidateFile* differing = nullptr;
    for (const QuorCandidateFile* member : diagnosis.Members()) {
      if (!named.passwordHash.empty() && !member->passwordHash.empty() &&
          member->passwordHash != named.passwordHash) {
        differing = member;
      }
    }
    if (differing) {
      what = "the stored password hash of " + QuorBaseName(differing->path) +
             " differs from that of " + QuorBaseName(path) +
             ": one of them is damaged, so the fileset of " + path + " does not open";
      damage = true;
    } else if (password.empty()) {
      what = "the fileset of " + path + " is password protected: give its password with --password";
    } else {
      what = "the password does not match the fileset of " + path;
    }
  } else if (!named.problem.empty()) {
    what = path + " cannot be read as a member file (" + named.problem + ")";
    damage = true;
  } else {
    what = "the fileset of " + path + " cannot be opened";
    detail = description;
    damage = true;
  }
  std::string text = what + ": " + QuorResultCodeText(code);
  if (!detail.empty()) text += "\n  the library says: " + detail;
  for (const QuorCandidateFile* member : diagnosis.Members()) {
    if (damage && member->path != path && member->problem.empty()) {
      text += "\n  try another member: " + member->path + ", or quormf salvage";
      break;
    }
  }
  throw std::runtime_error(text);
}

// Runs open; a quor::Error or CQuorError it throws is explained.
template <class Open>
auto OpenExplained(const std::string& path, const std::string& password,
                   const CQuorFileSetDiagnosis& diagnosis, Open&& open) {
  try {
    QuorRefuseNonRegularFile(path);
    return open();
  } catch (const quor::Error& e) {
    ExplainOpenFailure(path, password, diagnosis, e.code(), e.description());
  } catch (const CQuorError& e) {
    ExplainOpenFailure(path, password, diagnosis, e.Code(), e.Description());
  }
}

}  // namespace

quor::Reader QuorOpenReader(const std::string& path, const std::string& password,
                            const CQuorFileSetDiagnosis& diagnosis) {
  return OpenExplained(path, password, diagnosis,
                       [&] { return quor::Reader::open(path, password); });
}

CQuorComPtr<IQuorMediaFileReader> QuorOpenExplained(const std::string& path,
                                                    const std::string& password,
                                                    const CQuorFileSetDiagnosis& diagnosis) {
  return OpenExplained(path, password, diagnosis, [&] { return QuorOpenFileSet(path, password); });
}

Json QuorToJson(const CQuorFileSetDiagnosis& diagnosis) {
  Json j;
  j["guid"] = diagnosis.m_guid;
  j["files"] = Json::array();
  Json notReached = Json::array();
  for (const QuorCandidateFile* candidate : InNaturalOrder(diagnosis)) {
    const QuorCandidateFile& f = *candidate;
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
  for (const QuorCandidateFile* f : InNaturalOrder(diagnosis)) {
    std::printf("  %-28s %s\n", QuorBaseName(f->path).c_str(), Describe(diagnosis, *f).c_str());
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
