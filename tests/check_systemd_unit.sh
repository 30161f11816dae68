#!/usr/bin/env bash
# systemd-analyze verify accepts the exporter's unit without a word, with
# its ExecStart pointed at the program as built.
# usage: check_systemd_unit.sh UNIT PROGRAM     (exit 77 without systemd-analyze)
set -uo pipefail
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed "s|^ExecStart=/usr/bin/kestrel-exporter|ExecStart=$2|" "$1" >"$work/kestrel-exporter.service"
grep -q "^ExecStart=$2 " "$work/kestrel-exporter.service" || { echo "no ExecStart of /usr/bin/kestrel-exporter"; exit 1; }
findings=$(systemd-analyze verify "$work/kestrel-exporter.service" 2>&1)
status=$?
[ $status -eq 0 ] && [ -z "$findings" ] && exit 0
echo "systemd-analyze verify (status $status):"
echo "$findings"
exit 1
