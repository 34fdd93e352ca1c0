// CQuorFileSetDiagnosis: what every file beside a named member file is, seen one by one, without
// the reader's discovery rules: for each file of the directory with the named file's extension,
// whether it is a member of the named file's fileset (with its fileset index), a member of
// another fileset, or unreadable and why (it cannot be opened, it is empty, it has no member file
// signature, its file info block is damaged). It also tells which members the reader's
// discovery reaches (the directory scan stops at the first later name it cannot read), which
// file stopped the scan, and which fileset indexes no member holds.
//
// A plain value; Diagnose opens each file for the time it looks at it. Any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "quormediafiles/platform/QuorTypes.h"

enum class QuorCandidateKind { ckMember, ckOtherFileSet, ckUnreadable };

struct QuorCandidateFile {
  std::string path;  // UTF-8, as the directory part of the named file plus the listed name
  QuorCandidateKind kind = QuorCandidateKind::ckUnreadable;
  std::string guid;  // braced, of its file info block; empty when unreadable
  std::optional<DWORD> filesetIndex;
  bool infoBlockIntact = false;    // its file info block passes its block hash check
  std::vector<BYTE> passwordHash;  // the stored hash; empty: none
  ULONGLONG size = 0;
  // Unreadable: why. A member or another fileset's file: damage noticed on the way ("its file
  // info block fails its block hash check"), or empty.
  std::string problem;
  bool reached = false;  // the reader's discovery opens it
};

class CQuorFileSetDiagnosis {
 public:
  // Looks at every candidate beside path (UTF-8). The fileset is the named file's; when that
  // file is unreadable, the fileset most candidates belong to. E_INVALIDARG for a name without
  // an extension; the directory search's failure when nothing can be listed.
  [[nodiscard]] HRESULT Diagnose(const std::string& path);

  // Exactly one file: what Diagnose sees of it.
  static QuorCandidateFile Inspect(const std::string& path);

  std::string m_guid;                      // the fileset's; empty when no candidate is readable
  std::vector<QuorCandidateFile> m_files;  // in directory order
  // The first listed file after which the reader's directory scan sees nothing (empty: none).
  std::string m_scanStoppedAt;
  // Below the highest index that an intact file info block gives, held by no member; the first
  // kMaxListedMissing of them.
  std::vector<DWORD> m_missingIndexes;
  static constexpr std::size_t kMaxListedMissing = 4096;

  // The members of the fileset in fileset index order (files without an index last).
  std::vector<const QuorCandidateFile*> Members() const;
};

const char* QuorCandidateKindName(QuorCandidateKind kind) noexcept;
