// Authenticates an open fileset while a second thread draws the progress bar and, when Ctrl-C
// arrives, cancels. Without a key, IsAuthentic runs on the calling thread and the second thread
// polls GetAuthenticationProgress and calls CancelAuthentication (the reader allows exactly these
// two calls from another thread while IsAuthentic runs). With a seal key, one read of every
// member file both authenticates it and checks its seals (QuorCheckMemberFiles, two threads).
//
// Takes SIGINT and SIGTERM for the duration of Run (CQuorInterruptScope).
#pragma once

#include <string>
#include <vector>

#include "QuorFileSetReport.h"
#include "quormediafiles/QuorMediaFiles.h"
#include "seal/QuorSealVerifier.h"

struct QuorAuthenticationResult {
  bool authentic = false;  // IsAuthentic's answer: every file checked out and the set is complete
  bool complete = false;
  std::vector<QuorMemberFileReport> files;  // status after the walk (tested, authentic bits)
  std::vector<QuorSealReport> seals;        // with a key: one per file, in the order of files
};

class CQuorAuthenticator {
 public:
  // showProgress: draw a bar on stderr (callers pass whether stderr is a terminal).
  CQuorAuthenticator(IQuorMediaFileReader* reader, bool showProgress) noexcept
      : m_reader(reader), m_showProgress(showProgress) {}

  // key (optional): check the seals in the same read. Throws CQuorError, MFS_E_AUTH_CANCELLED
  // after Ctrl-C.
  QuorAuthenticationResult Run(const CQuorSealKey* key = nullptr);

 private:
  IQuorMediaFileReader* m_reader;  // borrowed for the object's life
  bool m_showProgress;
};
