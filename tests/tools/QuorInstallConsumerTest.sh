#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds a tiny application against it, once
# through find_package(QuorMediaFiles) and once through pkg-config; both must run.
# Usage: QuorInstallConsumerTest.sh BUILD_DIR SOURCE_DIR [CXX_FLAGS]
set -euo pipefail
build=$1
source=$2
flags=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUOR_REGISTRY_FILE="$work/registry"

cmake --install "$build" --prefix "$work/prefix" >/dev/null
test -x "$work/prefix/bin/quormf"
"$work/prefix/bin/quormf" --help >/dev/null

check() {
  local out
  out=$("$@")
  grep -q '^track: front door$' <<<"$out" || { echo "unexpected output: $out"; exit 1; }
  # The description comes from the module's object through the one runtime's error slot.
  grep -q '^open: HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) (0x80070002): Error during .*InitializeForReading' <<<"$out" ||
    { echo "unexpected output: $out"; exit 1; }
}

cmake -S "$source/tests/tools/consumer" -B "$work/cmake-consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$work/cmake-consumer" -j 2 >/dev/null
check "$work/cmake-consumer/quor_consumer"

pc=$(dirname "$(find "$work/prefix" -name quormediafiles.pc | head -n1)")
export PKG_CONFIG_PATH="$pc"
module=$(pkg-config --variable=module quormediafiles)
test -f "$module"
# shellcheck disable=SC2046,SC2086
c++ -std=c++20 $flags $(pkg-config --cflags quormediafiles) \
  -DQUOR_MODULE_PATH="\"$module\"" "$source/tests/tools/consumer/QuorConsumer.cpp" \
  $(pkg-config --libs quormediafiles) -Wl,-rpath,"$(pkg-config --variable=libdir quormediafiles)" \
  -o "$work/pc-consumer"
check "$work/pc-consumer"
echo "installed package: find_package and pkg-config consumers run"
