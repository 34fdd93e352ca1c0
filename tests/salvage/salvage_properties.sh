#!/usr/bin/env bash
# The long runs of the salvage properties, beyond the sample that ctest runs: every single-bit
# flip of a three-file fileset's last file, and a hundred recordings killed at random moments.
# Each test prints its figures (flips or runs, samples expected and recovered, failures).
#
#   tests/salvage/salvage_properties.sh [TEST_BINARY] [KILL_RUNS] [KILL_SEED]
#
# TEST_BINARY defaults to build/debug/tests/quor_salvage_tests; exit status is the tests'.
set -euo pipefail
binary=${1:-build/debug/tests/quor_salvage_tests}
QUOR_SALVAGE_EVERY_BIT=1 QUOR_KILL_RUNS=${2:-100} QUOR_KILL_SEED=${3:-2024} \
  "$binary" --gtest_filter='QuorFileSetSalvageTest.*BitFlip*:QuorFileSetSalvageTest.Killed*'
