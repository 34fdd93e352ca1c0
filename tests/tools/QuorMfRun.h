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

// Runs quormf with args (already quoted where needed) and the environment assignments env,
// stdout and stderr captured in files.
inline RunResult Quormf(const CQuorTempDir& dir, const std::string& args,
                        const std::string& env = "") {
  const std::string out = dir.Path("stdout.txt"), err = dir.Path("stderr.txt");
  const std::string command =
      env + " '" + QUORMF_PATH + "' " + args + " >'" + out + "' 2>'" + err + "' </dev/null";
  const int raw = std::system(command.c_str());
  RunResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = Slurp(out);
  result.err = Slurp(err);
  return result;
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

// Runs quormf and expects its exit status and `says` in what it printed, on stdout or stderr.
inline RunResult ExpectQuormf(const CQuorTempDir& dir, const std::string& args, int status,
                              const std::string& says = "", const std::string& env = "") {
  RunResult r = Quormf(dir, args, env);
  EXPECT_EQ(r.status, status) << r.out << r.err;
  EXPECT_NE((r.out + r.err).find(says), std::string::npos) << r.out << r.err;
  return r;
}

// A test's directory and quormf run in it.
class QuorMfFixture : public ::testing::Test {
 protected:
  // The path of a name in the directory, quoted for the shell.
  std::string Arg(const std::string& name) const { return "'" + m_dir.Path(name) + "'"; }
  RunResult Expect(const std::string& args, int status, const std::string& says = "",
                   const std::string& env = "") {
    return ExpectQuormf(m_dir, args, status, says, env);
  }
  nlohmann::json RunJson(const std::string& args, int status = 0) {
    return nlohmann::json::parse(Expect(args, status).out);
  }

  CQuorTempDir m_dir;
};
