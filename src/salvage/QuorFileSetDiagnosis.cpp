#include "salvage/QuorFileSetDiagnosis.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "core/LoggedException.h"
#include "format/QuorFileInfoBlock.h"
#include "platform/io/QuorFindFile.h"
#include "platform/io/QuorLastError.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "quormediafiles/platform/QuorGuid.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "storage/QuorFileStorage.h"

namespace {

std::string CodeText(HRESULT hr) {
  const std::string name = QuorResultCodeName(hr);
  return name.empty() ? QuorResultCodeHex(hr) : name;
}

}  // namespace

const char* QuorCandidateKindName(QuorCandidateKind kind) noexcept {
  switch (kind) {
    case QuorCandidateKind::ckMember:
      return "member";
    case QuorCandidateKind::ckOtherFileSet:
      return "other-fileset";
    default:
      return "unreadable";
  }
}

QuorCandidateFile CQuorFileSetDiagnosis::Inspect(const std::string& path) {
  QuorCandidateFile file;
  file.path = path;
  CQuorFileStorage storage;
  const std::u16string name = QuorUtf8ToUtf16(path);
  if (const HRESULT hr = storage.OpenFileForInspection(name.c_str()); FAILED(hr)) {
    file.problem = "cannot be opened: " + CodeText(hr);
    return file;
  }
  if (FAILED(storage.GetRemaining(&file.size)) || file.size == 0) {
    file.problem = "empty file";
    return file;
  }
  const auto signature = QuorFileSignatureBytes();
  BYTE head[kQuorFileSignatureSize] = {};
  if (file.size < kQuorFileSignatureSize) {
    file.problem = "shorter than a member file signature";
    return file;
  }
  if (const HRESULT hr = storage.Read(head, kQuorFileSignatureSize); FAILED(hr)) {
    file.problem = "cannot be read: " + CodeText(hr);
    return file;
  }
  // A damaged signature alone does not make a file unreadable: an intact file info block after
  // it still proves which fileset the file belongs to.
  const bool signatureValid = std::memcmp(head, signature.data(), signature.size()) == 0;
  CQuorFileInfoBlock info;
  if (const HRESULT hr = info.Read(storage.GetReader());
      FAILED(hr) || (!signatureValid && !info.IsHashValid())) {
    file.problem = !signatureValid ? "damaged or missing member file signature"
                                   : "damaged file info block: " + CodeText(hr);
    return file;
  }
  GUID guid = GUID_NULL;
  if (const HRESULT hr = info.GetFileSetGuid(&guid); FAILED(hr) && hr != MFS_E_NO_VALUE) {
    file.problem = "damaged file info block: " + CodeText(hr);
    return file;
  }
  file.guid = QuorGuidToString(guid);
  DWORD index = 0;
  if (SUCCEEDED(info.GetFileSetIndex(&index))) file.filesetIndex = index;
  BYTE hash[kHashSize];
  if (SUCCEEDED(info.GetPasswordHash(hash, kHashSize)))
    file.passwordHash.assign(hash, hash + kHashSize);
  if (!signatureValid) file.problem = "damaged member file signature";
  file.infoBlockIntact = info.IsHashValid();
  if (!file.infoBlockIntact) file.problem = "its file info block fails its block hash check";
  file.kind = QuorCandidateKind::ckOtherFileSet;
  return file;
}

HRESULT CQuorFileSetDiagnosis::Diagnose(const std::string& path) {
  m_guid.clear();
  m_files.clear();
  m_scanStoppedAt.clear();
  m_missingIndexes.clear();
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return E_INVALIDARG;
  const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string extension = path.substr(dot);

  CQuorFindFile search;
  std::string found;
  if (!search.FindFirst(directory + "*" + extension, &found)) return HResultFromLastError();
  do {
    m_files.push_back(Inspect(directory + found));
  } while (search.FindNext(&found));
  search.Close();
  if (std::none_of(m_files.begin(), m_files.end(),
                   [&](const QuorCandidateFile& f) { return f.path == path; })) {
    m_files.insert(m_files.begin(), Inspect(path));
  }

  // The fileset: the named file's, or the one most readable candidates belong to.
  const auto named = std::find_if(m_files.begin(), m_files.end(),
                                  [&](const QuorCandidateFile& f) { return f.path == path; });
  if (!named->guid.empty()) {
    m_guid = named->guid;
  } else {
    std::map<std::string, int> votes;
    for (const QuorCandidateFile& f : m_files) {
      if (!f.guid.empty()) ++votes[f.guid];
    }
    int best = 0;
    for (const auto& [guid, count] : votes) {
      if (count > best) std::tie(m_guid, best) = std::tie(guid, count);
    }
  }
  const bool singleFile = m_guid == QuorGuidToString(GUID_NULL);
  for (QuorCandidateFile& f : m_files) {
    if (f.guid.empty()) continue;
    const bool member = singleFile ? f.path == path : f.guid == m_guid;
    f.kind = member ? QuorCandidateKind::ckMember : QuorCandidateKind::ckOtherFileSet;
  }

  // What the reader's discovery reaches: the named file and the files its scan lists.
  CQuorFileStorage storage;
  std::vector<std::u16string> listed;
  const std::u16string wide = QuorUtf8ToUtf16(path);
  (void)storage.FindMediaFilesInLocation(wide.c_str(), &listed);  // (void): an empty list then
  std::set<std::string> reached;
  for (const std::u16string& name : listed) reached.insert(QuorUtf16ToUtf8(name));
  reached.insert(path);
  bool stopped = false;
  for (QuorCandidateFile& f : m_files) {
    f.reached = !stopped && reached.contains(f.path) &&
                (f.kind == QuorCandidateKind::ckMember || f.path == path);
    if (!stopped && !listed.empty() && !reached.contains(f.path)) {
      stopped = true;
      m_scanStoppedAt = f.path;
    }
  }

  // An index read from a damaged block is no evidence that the fileset reaches that far (one
  // flipped bit of it could claim a billion missing members).
  std::set<DWORD> indexes;
  for (const QuorCandidateFile* f : Members()) {
    if (f->filesetIndex && f->infoBlockIntact) indexes.insert(*f->filesetIndex);
  }
  if (!indexes.empty()) {
    for (DWORD i = 0; i < *indexes.rbegin() && m_missingIndexes.size() < kMaxListedMissing; ++i) {
      if (!indexes.contains(i)) m_missingIndexes.push_back(i);
    }
  }
  return S_OK;
}

std::vector<const QuorCandidateFile*> CQuorFileSetDiagnosis::Members() const {
  std::vector<const QuorCandidateFile*> members;
  for (const QuorCandidateFile& f : m_files) {
    if (f.kind == QuorCandidateKind::ckMember) members.push_back(&f);
  }
  std::stable_sort(members.begin(), members.end(), [](const auto* a, const auto* b) {
    return a->filesetIndex.value_or(0xFFFFFFFF) < b->filesetIndex.value_or(0xFFFFFFFF);
  });
  return members;
}
