// Ctrl-C and SIGTERM as a request to stop cleanly: while a CQuorInterruptScope lives, both
// signals only set a flag that long-running commands poll (verify cancels its walk, record stops
// its source and finalizes the fileset); the previous handlers come back when it ends.
#pragma once

#include <csignal>

class CQuorInterruptScope {
 public:
  CQuorInterruptScope();
  ~CQuorInterruptScope();
  CQuorInterruptScope(const CQuorInterruptScope&) = delete;
  CQuorInterruptScope& operator=(const CQuorInterruptScope&) = delete;

  // Whether SIGINT or SIGTERM arrived since the scope began.
  static bool Interrupted() noexcept;

 private:
  struct sigaction m_previousInt {};
  struct sigaction m_previousTerm {};
  bool m_installed = false;
};
