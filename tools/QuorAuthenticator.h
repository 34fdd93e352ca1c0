// Authenticates an open fileset: IsAuthentic on the calling thread while a second thread polls
// GetAuthenticationProgress for the progress bar and, when Ctrl-C arrives, calls
// CancelAuthentication. The reader allows exactly these two calls from another thread while
// IsAuthentic runs.
//
// Takes SIGINT and SIGTERM for the duration of Run (CQuorInterruptScope).
#pragma once

#include <string>
#include <vector>

#include "QuorFileSetReport.h"
#include "quormediafiles/QuorMediaFiles.h"

struct QuorAuthenticationResult {
  bool authentic = false;  // IsAuthentic's answer: every file checked out and the set is complete
  bool complete = false;
  std::vector<QuorMemberFileReport> files;  // status after the walk (tested, authentic bits)
};

class CQuorAuthenticator {
 public:
  // showProgress: draw a bar on stderr (callers pass whether stderr is a terminal).
  CQuorAuthenticator(IQuorMediaFileReader* reader, bool showProgress) noexcept
      : m_reader(reader), m_showProgress(showProgress) {}

  // Throws CQuorError, MFS_E_AUTH_CANCELLED after Ctrl-C.
  QuorAuthenticationResult Run();

 private:
  IQuorMediaFileReader* m_reader;  // borrowed for the object's life
  bool m_showProgress;
};
