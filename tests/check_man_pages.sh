#!/usr/bin/env bash
# The manual pages name exactly the options and commands their programs
# accept, and kestrel.cfg(5) exactly the keys the plug-in reads; a
# difference either way fails, with what is missing on which side.
#
# The programs' side comes from the programs as built: the usage
# kestrelhost prints for a wrong command line, kestrel-exporter's --help,
# kestrelcli's answer to an option (it takes none, and says so by reading it
# as a counter index), and the keys kestrelhost init explains in the header
# it writes, with kestrelhost check confirming that it knows each key the
# page names. The counter library is the one the environment gives.
# kestrel.cfg(5)'s source is the one the build wrote, its keys filled in
# from the configuration reference.
# usage: check_man_pages.sh MAN_DIR KESTRELCLI KESTRELHOST KESTREL_EXPORTER CFG_PAGE
set -uo pipefail
man_dir=$1 kestrelcli=$2 kestrelhost=$3 exporter=$4 cfg_page=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# Option words in a program's text: - or -- and a letter, after a blank, a
# [ or the start of a line.
options_in_text() {
  grep -oE '(^|[[:space:][])--?[A-Za-z][A-Za-z0-9.-]*' | sed 's/^[[:space:][]*//' | sort -u
}
# What the page sets in bold and begins with a dash.
options_in_page() {
  grep -oE '\*--?[A-Za-z][A-Za-z0-9.-]*\*' "$1" | tr -d '*' | sort -u
}
# The commands: a lower-case word right after the program's name in a usage
# line, or in bold after the program's bold name in the page.
commands_in_usage() {
  sed -nE "s/^(usage:)?[[:space:]]*$1[[:space:]]+([a-z]+)([[:space:]].*)?\$/\\2/p" | sort -u
}
commands_in_page() {
  sed -nE "s/^\\*$1\\*[[:space:]]+\\*([a-z]+)\\*.*\$/\\1/p" "$2" | sort -u
}

compare() {  # WHAT PAGE_LIST PROGRAM_LIST
  local only_page only_program
  only_page=$(comm -23 "$2" "$3")
  only_program=$(comm -13 "$2" "$3")
  if [ -n "$only_page" ]; then
    echo "$1: in the page, not accepted:" $only_page
    failed=1
  fi
  if [ -n "$only_program" ]; then
    echo "$1: accepted, not in the page:" $only_program
    failed=1
  fi
  # A list that came out empty on both sides is no comparison.
  [ -s "$2" ] || [ "${4:-}" = may-be-empty ] || { echo "$1: the page names none"; failed=1; }
}

# kestrelhost: its usage, on a wrong command line.
"$kestrelhost" >/dev/null 2>"$work/usage"
status=$?
[ $status -eq 2 ] || { echo "kestrelhost without arguments exited with $status, not 2"; failed=1; }
options_in_text <"$work/usage" >"$work/program"
options_in_page "$man_dir/kestrelhost.1.scd" >"$work/page"
compare "kestrelhost(1) options" "$work/page" "$work/program"
commands_in_usage kestrelhost <"$work/usage" >"$work/program"
commands_in_page kestrelhost "$man_dir/kestrelhost.1.scd" >"$work/page"
compare "kestrelhost(1) commands" "$work/page" "$work/program"

# kestrel-exporter: its --help.
"$exporter" --help >"$work/usage" 2>&1
status=$?
[ $status -eq 0 ] || { echo "kestrel-exporter --help exited with $status"; failed=1; }
options_in_text <"$work/usage" >"$work/program"
options_in_page "$man_dir/kestrel-exporter.1.scd" >"$work/page"
compare "kestrel-exporter(1) options" "$work/page" "$work/program"

# kestrelcli: no options. An option is read as a counter index; were one
# taken, the program would not say that.
"$kestrelcli" --help </dev/null >"$work/usage" 2>&1
if grep -qx 'Invalid counter index: --help' "$work/usage"; then
  : >"$work/program"
else
  echo "kestrelcli --help did not read --help as a counter index:"
  cat "$work/usage"
  options_in_text <"$work/usage" >"$work/program"
  failed=1
fi
options_in_page "$man_dir/kestrelcli.1.scd" >"$work/page"
compare "kestrelcli(1) options" "$work/page" "$work/program" may-be-empty

# kestrel.cfg(5): the keys the page lists, as *Key*= at the start of a line,
# against those that init's header explains (";   Key  what it does").
"$kestrelhost" init >"$work/init.cfg" 2>"$work/init.err" ||
  { echo "kestrelhost init failed:"; cat "$work/init.err"; exit 1; }
sed -nE 's/^;   ([A-Z][A-Za-z]+)[[:space:]].*$/\1/p' "$work/init.cfg" | sort -u >"$work/program"
sed -nE 's/^\*([A-Za-z]+)\*=.*$/\1/p' "$cfg_page" | sort -u >"$work/page"
compare "kestrel.cfg(5) keys" "$work/page" "$work/program"
# Each key of the page, set in a section that reads it: check knows them all.
{
  echo "[Settings]"
  grep -x LoggingLevel "$work/page" | sed 's/$/=0/'
  echo "[Source0]"
  grep -vx LoggingLevel "$work/page" | sed 's/$/=1/'
} >"$work/keys.cfg"
"$kestrelhost" check "$work/keys.cfg" --json >"$work/findings" 2>/dev/null
if grep -E '"kind": "(unknown-key|misspelt-key|unknown-section)"' "$work/findings"; then
  echo "kestrelhost check does not know a key that kestrel.cfg(5) names"
  failed=1
fi

exit $failed
