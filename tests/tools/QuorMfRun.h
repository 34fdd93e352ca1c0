// Runs the built quormf as a user would: its exit status and what it printed.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "support/QuorTempDir.h"

struct RunResult {
  int status = -1;
  std::string out, err;
};

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Starts command under sh without waiting for it.
inline pid_t Spawn(const std::string& command) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return child;
}

// The exit status of a spawned command; -1 when a signal ended it.
inline int Wait(pid_t child) {
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A test's directory and quormf run in it.
class QuorMfFixture : public ::testing::Test {
 protected:
  // The path of a name in the directory, quoted for the shell.
  std::string Arg(const std::string& name) const { return "'" + m_dir.Path(name) + "'"; }
  // Runs quormf with args (already quoted where needed) and the environment assignments env.
  RunResult Run(const std::string& args, const std::string& env = "") {
    const std::string command = env + " '" + QUORMF_PATH + "' " + args + " >" + Arg("stdout.txt") +
                                " 2>" + Arg("stderr.txt") + " </dev/null";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(m_dir.Path("stdout.txt")),
            Slurp(m_dir.Path("stderr.txt"))};
  }
  // Runs quormf and expects its exit status and `says` in what it printed, on stdout or stderr.
  RunResult Expect(const std::string& args, int status, const std::string& says = "",
                   const std::string& env = "") {
    RunResult r = Run(args, env);
    EXPECT_EQ(r.status, status) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(says), std::string::npos) << r.out << r.err;
    return r;
  }
  nlohmann::json RunJson(const std::string& args, int status = 0) {
    return nlohmann::json::parse(Expect(args, status).out);
  }

  CQuorTempDir m_dir;
};
