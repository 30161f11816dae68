#!/usr/bin/env bash
# Checks that shipped binaries hold no test hook: no symbol of the tests'
# COM counting or WOW64 steering, and no test switch or test environment
# name among their strings.
# usage: check_no_test_hooks.sh OBJDUMP BINARY...
set -euo pipefail
objdump=$1
shift
nm=${objdump%objdump}nm strings=${objdump%objdump}strings

hooks='ComActivity|FailCoInitialize|SteerWow64|__wrap_|KESTREL_(TEST|DOUBLE|EXPECT|SERVER_FAULT|NVML_SCRIPT)|FakeNvml|overlong'
status=0
for binary in "$@"; do
  found=$({ "$nm" -C "$binary" 2>/dev/null || true; "$strings" -a "$binary"; } |
          grep -E "$hooks" | sort -u || true)
  if [ -n "$found" ]; then
    echo "FAIL $binary holds test hooks:"
    echo "$found"
    status=1
  else
    echo "ok   $binary holds no test hook"
  fi
done
exit $status
