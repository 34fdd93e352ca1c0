#!/usr/bin/env bash
# The shared libraries export their programming interface and nothing else: the module its four
# server entry points, libquor namespace quor, and the runtime its Windows-named functions, its
# own classes and the type information that crosses into the module; no binary exports the
# standard library's template code.
# Usage: QuorExportedSymbolsTest.sh RUNTIME QUOR MODULE
set -euo pipefail
runtime=$1 quor=$2 module=$3

exported() { nm -D --defined-only -C "$1" | cut -d' ' -f3- | sed 's/(.*//'; }

fail=0
check() {  # library, extended regex every exported name must match
  local unexpected
  unexpected=$(exported "$1" | grep -Ev "$2" || true)
  if [ -n "$unexpected" ]; then
    echo "$(basename "$1") exports more than its interface:"; head -20 <<<"$unexpected"; fail=1
  fi
}
check "$module" '^Dll(GetClassObject|CanUnloadNow|RegisterServer|UnregisterServer)$'
check "$quor" '^((typeinfo|typeinfo name|vtable) for )?quor::'
check "$runtime" '^((typeinfo|typeinfo name|vtable) for )?(CQuor|Quor|DXL_|I[A-Z]|HKEY)|^(CLSIDFrom|IIDFromString|StringFromGUID2|Co[A-Z]|(Create|Get|Set)ErrorInfo|[GS]etLastError|Win32ErrorFromErrno|FailWith|Sys[A-Z]|SafeArray|Var|Reg|UnRegisterTypeLib|QueryPathOfRegTypeLib|LoadRegTypeLib|LoadTypeLib|_invalid_parameter|_[gs]et_invalid_parameter_handler)'
test "$(exported "$module" | wc -l)" -eq 4 || { echo "the module exports $(exported "$module" | wc -l) symbols"; fail=1; }
grep -qx 'SysAllocString' <<<"$(exported "$runtime")" || { echo "the runtime lost SysAllocString"; fail=1; }
grep -qx 'quor::Reader::open' <<<"$(exported "$quor")" || { echo "libquor lost quor::Reader::open"; fail=1; }
exit $fail
