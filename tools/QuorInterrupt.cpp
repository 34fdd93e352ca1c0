#include "QuorInterrupt.h"

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) { g_interrupted = 1; }

}  // namespace

CQuorInterruptScope::CQuorInterruptScope() {
  g_interrupted = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  m_installed = sigaction(SIGINT, &action, &m_previousInt) == 0 &&
                sigaction(SIGTERM, &action, &m_previousTerm) == 0;
}

CQuorInterruptScope::~CQuorInterruptScope() {
  if (!m_installed) return;
  sigaction(SIGINT, &m_previousInt, nullptr);
  sigaction(SIGTERM, &m_previousTerm, nullptr);
}

bool CQuorInterruptScope::Interrupted() noexcept { return g_interrupted != 0; }
