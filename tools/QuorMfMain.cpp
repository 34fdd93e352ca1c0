// quormf: inspect, verify, extract and record filesets from the command line.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>

#include "QuorMfCommands.h"
#include "quormediafiles/QuorMediaFilesCpp.h"

namespace {

void AddOpenOptions(CLI::App* command, QuorOpenArgs* args, bool json) {
  command->add_option("FILE", args->file, "any member file of the fileset")->required();
  command->add_option("--password,-p", args->password, "the fileset's password");
  if (json) command->add_flag("--json", args->json, "print JSON instead of text");
}

// Timestamps are unsigned: a negative one is refused rather than wrapped around.
const CLI::Validator kTimestamp(
    [](std::string& text) {
      return text.find('-') == std::string::npos ? std::string()
                                                 : "a timestamp is a number from 0 up, not " + text;
    },
    "TIMESTAMP");

void AddRangeOptions(CLI::App* command, QuorSampleRange* range) {
  command->add_option("--track,-t", range->trackId, "track id")->required();
  command->add_option("--from", range->from, "first timestamp (default: the track's first)")
      ->check(kTimestamp);
  command->add_option("--to", range->to, "last timestamp, inclusive (default: the track's last)")
      ->check(kTimestamp);
}

// The limits and settings of a new fileset, shared by record and import.
void AddRecordingOptions(CLI::App* command, QuorRecordOptions* record) {
  command->add_option("--max-size", record->maxSizeKiB, "size limit per member file in KiB")
      ->required()
      ->check(CLI::Range(1u, 5u << 20));  // 1 KiB to 5 GiB
  command->add_option("--max-files", record->maxFiles, "number of member files at most")
      ->required()
      ->check(CLI::Range(1u, 0xFFFFFFFEu));
  command->add_option("--password,-p", record->password, "protect the fileset");
  command->add_option("--description,-d", record->description, "fileset description");
  command->add_flag("--overwrite", record->overwrite, "replace existing member files");
  command->add_flag("--realtime", record->realtime,
                    "pace the samples at their timestamps, like a live source");
  command->add_flag("--durable", record->durable,
                    "sync the head and every index block to the device as written");
  command
      ->add_option("--index-period", record->indexPeriodSeconds,
                   "seconds between index blocks: what a crash can leave unindexed")
      ->capture_default_str()
      ->check(CLI::Range(1, 86400));
  command->add_option("--sign", record->signingKey,
                      "private key file (quormf keygen): seal every member file");
}

// Parses the command line and runs the command; what it throws, main reports.
int RunTool(int argc, char** argv) {
  CLI::App app{
      "quormf: record, inspect, verify and extract filesets of timestamped media samples "
      "(timestamps in microseconds)."};
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "help for every subcommand");
  app.set_version_flag("--version", std::string("quormf ") + QUORMF_VERSION);

  std::string demoDirectory;
  CLI::App* demo = app.add_subcommand(
      "demo",
      "record a synthetic two-track fileset, play it back, authenticate it and a damaged "
      "copy of it");
  demo->add_option("DIR", demoDirectory,
                   "where to leave the fileset (default: a new temporary "
                   "directory)");

  QuorOpenArgs info;
  CLI::App* infoCommand =
      app.add_subcommand("info", "member files, fileset metadata and tracks of a fileset");
  AddOpenOptions(infoCommand, &info, true);

  QuorOpenArgs verify;
  CLI::App* verifyCommand = app.add_subcommand(
      "verify",
      "authenticate every block of a fileset; exit 0 when authentic and complete, 1 "
      "when not, 2 on an error");
  AddOpenOptions(verifyCommand, &verify, true);
  verifyCommand->add_option("--key", verify.key,
                            "public key file: check every member file's seals too; exit 1 "
                            "unless each is sealed to its end");

  std::string keygenPath;
  CLI::App* keygenCommand = app.add_subcommand(
      "keygen", "write a new Ed25519 key pair for seals: OUT (private, mode 0600) and OUT.pub");
  keygenCommand->add_option("OUT", keygenPath, "the private key file to create")->required();

  QuorOpenArgs samples;
  QuorSampleRange samplesRange;
  CLI::App* samplesCommand = app.add_subcommand(
      "samples", "one line per sample of a track: timestamp, flags, size, payload MD5");
  AddOpenOptions(samplesCommand, &samples, true);
  AddRangeOptions(samplesCommand, &samplesRange);

  QuorOpenArgs extract;
  QuorSampleRange extractRange;
  std::string extractDirectory;
  bool extractStdout = false;
  CLI::App* extractCommand = app.add_subcommand(
      "extract", "write the payloads of a track: one file per sample, or concatenated to stdout");
  AddOpenOptions(extractCommand, &extract, false);
  AddRangeOptions(extractCommand, &extractRange);
  CLI::Option_group* destination =
      extractCommand->add_option_group("destination", "where the payloads go (one of)");
  destination->add_option("--out,-o", extractDirectory, "directory for the sample files");
  destination->add_flag("--stdout", extractStdout, "write the payloads to stdout");
  destination->require_option(1);
  bool extractDamaged = false;
  extractCommand->add_flag("--include-damaged", extractDamaged,
                           "also write samples that fail their block hash check");

  std::string dumpFile;
  bool dumpJson = false;
  CLI::App* dumpCommand = app.add_subcommand(
      "dump",
      "list the blocks of one member file: offset, type, size, index, hash, fields; exit "
      "1 when a block is damaged or the file ends early");
  dumpCommand->add_option("MEMBERFILE", dumpFile, "one member file")->required();
  dumpCommand->add_flag("--json", dumpJson, "print JSON instead of text");

  std::string salvageSource;
  std::string salvageTarget;
  std::string salvagePassword;
  bool salvageJson = false;
  CLI::App* salvageCommand = app.add_subcommand(
      "salvage",
      "copy every sample that can be proven intact out of a damaged fileset into a new one, "
      "with a report of what was lost; exit 0 nothing lost, 1 something lost, 2 an error");
  salvageCommand->add_option("DAMAGED", salvageSource, "any member file of the damaged fileset")
      ->required();
  salvageCommand->add_option("OUT", salvageTarget, "the new fileset's first member file")
      ->required();
  salvageCommand->add_option("--password,-p", salvagePassword, "the fileset's password");
  salvageCommand->add_flag("--json", salvageJson, "print the report as JSON");

  std::string module = "libquormediafiles.so.1";
  bool systemRegistry = false;
  CLI::App* registerCommand =
      app.add_subcommand("register", "record a component server's classes in the class registry");
  CLI::App* unregisterCommand = app.add_subcommand(
      "unregister", "remove a component server's classes from the class registry");
  for (CLI::App* command : {registerCommand, unregisterCommand}) {
    command->add_option("MODULE", module, "the library, a path or a name the loader searches for")
        ->capture_default_str();
    command->add_flag("--system", systemRegistry,
                      "the system-wide registry (QUOR_SYSTEM_REGISTRY_FILE or "
                      "/etc/quormediafiles/registry) instead of the user's");
  }

  QuorRecordOptions record;
  std::string manifest;
  bool recordJson = false;
  CLI::App* recordCommand = app.add_subcommand(
      "record", "record the synthetic camera and microphone of the demo with the given limits");
  recordCommand->add_option("OUT", record.path, "the first member file, e.g. rec/cam.qmf")
      ->required();
  AddRecordingOptions(recordCommand, &record);
  recordCommand->add_option("--duration", record.durationSeconds, "seconds of media")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  recordCommand->add_option("--manifest", manifest,
                            "write the list of samples written as JSON to this file");
  recordCommand->add_flag("--json", recordJson, "print the summary as JSON");

  QuorImportArgs import;
  CLI::App* importCommand = app.add_subcommand(
      "import",
      "record the video and audio streams of a media file or URL into a fileset, without "
      "re-encoding");
  importCommand->add_option("INPUT", import.input, "a media file, or a URL libavformat can open")
      ->required();
  importCommand->add_option("OUT", import.record.path, "the first member file, e.g. rec/cam.qmf")
      ->required();
  AddRecordingOptions(importCommand, &import.record);
  importCommand->add_flag("--skip-unsupported", import.skipUnsupported,
                          "leave out streams whose codec has no format identifier");
  importCommand->add_flag("--json", import.json, "print the summary as JSON");

  QuorExportArgs exportArgs;
  CLI::App* exportCommand = app.add_subcommand(
      "export",
      "authenticate a fileset and remux a time range of its tracks into a playable .mp4, .mkv "
      "or .ts file, with a JSON sidecar OUT.json");
  exportCommand->add_option("FILESET", exportArgs.open.file, "any member file of the fileset")
      ->required();
  exportCommand->add_option("OUT", exportArgs.out, "the file to write: .mp4, .mkv or .ts")
      ->required();
  exportCommand->add_option("--password,-p", exportArgs.open.password, "the fileset's password");
  exportCommand->add_option("--from", exportArgs.from,
                            "first timestamp in microseconds (video starts at the key frame "
                            "before it)");
  exportCommand->add_option("--to", exportArgs.to, "last timestamp in microseconds, inclusive");
  exportCommand->add_option("--track,-t", exportArgs.trackIds,
                            "a track to export (repeatable; "
                            "default: all)");
  exportCommand->add_flag("--allow-damaged", exportArgs.allowDamaged,
                          "export the samples of the authentic member files of a damaged fileset");
  exportCommand->add_flag("--overwrite", exportArgs.overwrite, "replace OUT and OUT.json");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }

  if (*demo) return QuorRunDemo(demoDirectory);
  if (*infoCommand) return QuorRunInfo(info);
  if (*verifyCommand) return QuorRunVerify(verify);
  if (*keygenCommand) return QuorRunKeygen(keygenPath);
  if (*samplesCommand) return QuorRunSamples(samples, samplesRange);
  if (*extractCommand) {
    return QuorRunExtract(extract, extractRange, extractDirectory, extractStdout, extractDamaged);
  }
  if (*salvageCommand) {
    return QuorRunSalvage(salvageSource, salvageTarget, salvagePassword, salvageJson);
  }
  if (*dumpCommand) return QuorRunDump(dumpFile, dumpJson);
  if (*recordCommand) return QuorRunRecord(record, manifest, recordJson);
  if (*registerCommand) return QuorRunRegister(module, systemRegistry, false);
  if (*unregisterCommand) return QuorRunRegister(module, systemRegistry, true);
  if (*importCommand) return QuorRunImport(import);
  if (*exportCommand) return QuorRunExport(exportArgs);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return RunTool(argc, argv);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "error: %s\n", e.what());
    return 2;
  } catch (...) {
    std::fflush(stdout);
    std::fprintf(stderr, "error: unexpected failure\n");
    return 2;
  }
}
