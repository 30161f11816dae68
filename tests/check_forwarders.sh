#!/usr/bin/env bash
# Checks that each forwarder in a built binary is exactly one indirect jump
# through its own entry of CounterLibraryEntries, and nothing else.
# usage: check_forwarders.sh OBJDUMP BINARY
set -euo pipefail
objdump=$1 binary=$2

# Forwarder and the library entry it must jump through.
mapping="CounterCall0:10 RemoveAllCounters:16 Shutdown:2 CounterCall3:19 CounterCall4:20
CounterCall5:21 CounterCall6:22 CounterCall7:23 CounterCall8:24 CounterCall9:17
CounterCall10:27 Sample:25 GetNumCounters:4 GetCounterName:5 CounterCall14:7
GetCounterAttribute:9 GetCounterValue:28 AddCounter:11 CounterCall18:14"

case "$($objdump -f "$binary")" in
  *pei-i386*) pointer=4 prefix=_ ;;
  *) pointer=8 prefix= ;;
esac
entry_size=$((2 * pointer))

# nm of the same toolchain gives absolute addresses for ELF and PE alike.
nm=${objdump%objdump}nm
entries=$($nm "$binary" | awk -v name="${prefix}CounterLibraryEntries" '$NF == name { print $1 }' | head -1)
[ -n "$entries" ] || { echo "no CounterLibraryEntries in $binary"; exit 1; }

disassembly=$($objdump -d --no-show-raw-insn "$binary")
failures=0
for pair in $mapping; do
  name=Forward${pair%%:*} entry=${pair##*:}
  body=$(awk -v sym="<${prefix}${name}>:" '
    $2 == sym { inside = 1; next }
    inside && /^$/ { exit }
    inside && /^[0-9a-f]+ </ { exit }
    inside { sub(/^ *[0-9a-f]+:\t*/, ""); print }' <<<"$disassembly")
  first=$(head -1 <<<"$body")
  rest=$(tail -n +2 <<<"$body" | grep -v -E '^(nop|xchg +%ax,%ax|int3|data16|cs nopw|lea +0x0|\s*$)' || true)
  offset=$(printf '0x%x' $((entry * entry_size)))
  want="<${prefix}CounterLibraryEntries+${offset}>"
  [ "$offset" = 0x0 ] && want="<${prefix}CounterLibraryEntries>"
  if [[ "$first" != jmp* ]]; then
    echo "FAIL $name: first instruction is '$first', not a jump"; failures=$((failures + 1)); continue
  fi
  if [[ "$first" != *"$want"* ]]; then
    # i686 absolute jump: objdump prints the address only; compare it.
    target=$(grep -o '\*0x[0-9a-f]*' <<<"$first" | sed 's/^\*0x0*//')
    expected=$(printf '%x' $((16#$entries + entry * entry_size)))
    if [ "$target" != "$expected" ]; then
      echo "FAIL $name: '$first' does not jump through entry $entry ($want)"; failures=$((failures + 1)); continue
    fi
  fi
  if [ -n "$rest" ]; then
    echo "FAIL $name: code after the jump: $rest"; failures=$((failures + 1)); continue
  fi
  echo "ok   $name: $first"
done
[ "$failures" -eq 0 ] || { echo "$failures forwarder(s) wrong in $binary"; exit 1; }
