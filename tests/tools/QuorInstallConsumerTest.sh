#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds a tiny application on quor.hpp against
# it, once through find_package(QuorMediaFiles) and once through pkg-config; both must run. With
# an interpreter given, a clean one imports the installed Python package and records and reads.
# Usage: QuorInstallConsumerTest.sh BUILD_DIR SOURCE_DIR [CXX_FLAGS] [PYTHON]
set -euo pipefail
build=$1
source=$2
flags=${3:-}
python=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUOR_REGISTRY_FILE="$work/registry"

cmake --install "$build" --prefix "$work/prefix" >/dev/null
test -x "$work/prefix/bin/quormf"
"$work/prefix/bin/quormf" --help >/dev/null

check() {
  local out
  rm -rf "$work/rec" && mkdir "$work/rec"
  out=$("$@" "$work/rec")
  for line in 'track: front door' 'samples: 3' 'authentic: yes'; do
    grep -qx "$line" <<<"$out" || { echo "unexpected output: $out"; exit 1; }
  done
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

if [ -n "$python" ]; then
  site=$(dirname "$(find "$work/prefix" -type d -name quormediafiles -path '*-packages/*' | head -n1)")
  test -f "$site/quormediafiles/__init__.pyi"
  (cd "$work" && env -i PATH=/usr/bin:/bin PYTHONPATH="$site" "$python" -c '
import quormediafiles as qmf
assert qmf.__file__.startswith("'"$site"'"), qmf.__file__
with qmf.Writer("py.qmf", [qmf.Track(id=1, name="door", video=True)]) as w:
    w.write(1, 5, qmf.SampleFlags.KEY_FRAME | qmf.SampleFlags.VIDEO, b"abc")
with qmf.open("py.qmf") as fs:
    assert [bytes(s.payload) for s in fs.samples(1)] == [b"abc"]
    assert fs.verify().authentic
')
  echo "installed Python package: imported and used by a clean interpreter"
fi
