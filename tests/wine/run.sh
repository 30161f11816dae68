#!/usr/bin/env bash
# Runs one Windows test program under wine64 in the build's own prefix.
# usage: run.sh PREFIX PROGRAM.exe [ARGS...]
#
# The prefix is made once (and Wine's session left to settle, or COM
# activation in it hangs). The program's output goes to a file first and is
# printed afterwards: Wine's background services inherit the program's
# descriptors, and a pipe they hold open would keep the caller waiting for
# the whole session to end.
set -uo pipefail
prefix=$1
shift
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)

mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.kestrel-ready" ]; then
    "$wine" wineboot -i >/dev/null 2>&1 </dev/null
    wineserver -w
    touch "$prefix/.kestrel-ready"
  fi
) 9>"$prefix.lock"
# Keep the session alive between programs: each start is then much faster.
wineserver -p20 >/dev/null 2>&1 </dev/null || true

# A test program prints before anything else runs; a start that failed
# with nothing printed at all is Wine's, now and then under load, so it
# gets one more try (a program that cannot start fails that one too).
output=$(mktemp)
for try in 1 2; do
  "$wine" "$@" >"$output" 2>&1
  status=$?
  [ $status -ne 0 ] && [ ! -s "$output" ] && [ $try -eq 1 ] || break
  echo "run.sh: wine exited $status having printed nothing; starting it once more" >&2
done
cat "$output"
rm -f "$output"
exit $status
