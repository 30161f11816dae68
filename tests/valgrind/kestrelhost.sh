#!/usr/bin/env bash
# kestrelhost under memcheck with the plug-in next to a configuration of
# several sources (logging on), polled a few times.
# usage: kestrelhost.sh KESTRELHOST PLUGIN
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cp "$2" "$folder/kestrel.so"
cp "$here/several-sources.cfg" "$folder/kestrel.cfg"
"$here/memcheck.sh" "$1" "$folder/kestrel.so" --polls 3 --interval 0
