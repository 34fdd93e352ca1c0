// CQuorFileSetSalvage: copies what can be proven intact out of a damaged fileset into a new one.
// It finds the members by fileset GUID (CQuorFileSetDiagnosis, so names that sort oddly or
// cannot be read hide nothing), walks each member file on its own from its first block to its
// end (CQuorForwardBlockWalker, so a damaged tail, index chain or block framing costs only the
// bytes it spoils), and takes every sample that an intact index block lists and whose media
// sample block passes its block hash check. The new fileset has the same tracks, the samples in
// timestamp order, the same password, and a description that names the fileset it was salvaged
// from. Everything left behind is reported with its file, offset and reason.
//
// Holds the member files open while it runs. The member files are walked two at a time on the
// calling thread and one more, and what each walk found is taken in member order, so the report
// is the same as from one walk after the other; the samples are then read on the calling thread,
// a window of each member file at a time, and lent to the writer from there, while its worker
// hashes and writes them, a bounded number of samples and bytes behind.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "quormediafiles/platform/QuorTypes.h"
#include "salvage/QuorFileSetDiagnosis.h"

struct QuorSalvageLoss {
  std::string file;
  ULONGLONG offset = 0;
  ULONGLONG length = 0;
  std::string reason;
  std::optional<DWORD> trackId;  // when an index entry tells which sample was lost
  std::optional<ULONGLONG> timestamp;
};

struct QuorSalvagedFile {
  std::string file;
  std::optional<DWORD> filesetIndex;
  ULONGLONG blocks = 0;
  ULONGLONG samples = 0;  // taken into the new fileset
  std::string end;        // how the walk of the file ended
};

struct QuorSalvageReport {
  std::string sourceGuid;
  std::optional<std::string> sourceDescription;
  std::string description;  // of the new fileset
  std::vector<QuorSalvagedFile> files;
  std::vector<QuorSalvageLoss> lost;
  std::map<DWORD, ULONGLONG> samplesPerTrack;  // written, per track id
  ULONGLONG samplesWritten = 0;
  ULONGLONG payloadBytes = 0;
  bool outputFull = false;  // the new fileset filled up before every sample was written
};

class CQuorFileSetSalvage {
 public:
  // Salvages the fileset of source (UTF-8, any member file or a file beside them) into target
  // (the new fileset's first member file, which must not exist). MFS_E_BAD_PASSWORD when the
  // fileset is protected and no member's password hash matches password; MFS_E_BAD_FORMAT when
  // no member file can be read; the writer's failures otherwise. The report is filled as far as
  // the salvage got.
  [[nodiscard]] static HRESULT Run(const std::string& source, const std::string& target,
                                   const std::string& password, QuorSalvageReport* report);
};
