#!/usr/bin/env bash
# Checks that the plug-in's export table holds exactly its four entry points
# under their plain, undecorated names, and nothing else.
# usage: check_exports.sh OBJDUMP PLUGIN
set -euo pipefail
objdump=$1 plugin=$2

expected=$(printf '%s\n' GetSourceCaps GetSourceData GetSourceDesc GetSourcesNum)
case "$($objdump -f "$plugin")" in
  *pei-*)
    # The names listed under the export directory's name pointer table (awk
    # reads on to the end, so objdump never writes into a closed pipe).
    actual=$($objdump -p "$plugin" | awk '
      /\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
      NF == 0 { inside = 0 }
      inside { print $NF }' | sort) ;;
  *)
    nm=${objdump%objdump}nm
    actual=$($nm -D --defined-only "$plugin" | awk '{ print $NF }' | sort) ;;
esac

if [ "$actual" != "$expected" ]; then
  echo "FAIL $plugin exports:"
  echo "$actual"
  echo "expected exactly:"
  echo "$expected"
  exit 1
fi
echo "ok   $plugin exports exactly: $(echo $actual)"
