// The subcommands of quormf. Each returns the process exit status: 0 success, 1 a negative
// verdict (not authentic, incomplete, damaged), and throws (quor::Error, CQuorError or
// std::runtime_error with a text in words) for a failure, which main reports with exit status 2.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "QuorRecorder.h"
#include "QuorSampleWalk.h"
#include "quormediafiles/platform/QuorTypes.h"

struct QuorOpenArgs {
  std::string file;
  std::string password;
  bool json = false;
  std::string key;  // verify: the public key that checks the seals (empty: seals are not checked)
};

int QuorRunDemo(const std::string& directory);
int QuorRunInfo(const QuorOpenArgs& args);
int QuorRunVerify(const QuorOpenArgs& args);
// Exit 1 when a sample of the range fails its block hash or cannot be read (both are listed).
int QuorRunSamples(const QuorOpenArgs& args, const QuorSampleRange& range);
// Exactly one of outDirectory and toStdout is used. Damaged samples are skipped (and named on
// stderr, exit 1) unless includeDamaged; unreadable ones always.
int QuorRunExtract(const QuorOpenArgs& args, const QuorSampleRange& range,
                   const std::string& outDirectory, bool toStdout, bool includeDamaged);
// Writes the salvaged fileset to target and its report next to it (target's name with the
// extension .salvage.json); exit 0 when nothing was lost, 1 when something was.
int QuorRunSalvage(const std::string& source, const std::string& target,
                   const std::string& password, bool json);
// Writes a new Ed25519 key pair: the private key to path (mode 0600), the public key to
// path + ".pub".
int QuorRunKeygen(const std::string& path);
int QuorRunDump(const std::string& memberFile, bool json);
// Loads the module (a path, or a name the loader searches for) and calls its DllRegisterServer,
// or DllUnregisterServer, on the user's class registry, or on the system-wide one (system).
int QuorRunRegister(const std::string& module, bool system, bool unregister);
// manifest: a JSON file listing every sample that reached a member file (dropped ones are left
// out), per track, in the form `samples --json` prints (empty: none). The JSON summary counts
// the samples handed to the writer and the dropped ones.
int QuorRunRecord(const QuorRecordOptions& options, const std::string& manifest, bool json);

struct QuorImportArgs {
  std::string input;         // a media file or URL
  QuorRecordOptions record;  // path: the fileset's first member file
  bool skipUnsupported = false;
  bool json = false;
};
// Records the video and audio streams of a media file or URL into a new fileset.
int QuorRunImport(const QuorImportArgs& args);

struct QuorExportArgs {
  QuorOpenArgs open;
  std::string out;  // .mp4, .mkv or .ts
  std::optional<ULONGLONG> from;
  std::optional<ULONGLONG> to;
  std::vector<ULONG> trackIds;  // empty: every track with samples
  bool allowDamaged = false;
  bool overwrite = false;
};
// Remuxes a time range of a fileset's tracks into a playable file with an OUT.json sidecar.
int QuorRunExport(const QuorExportArgs& args);
