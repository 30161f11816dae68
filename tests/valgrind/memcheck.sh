#!/usr/bin/env bash
# Runs a program under valgrind's memcheck and fails on any memory error or
# leak. With --key-after SECONDS its standard input gets a key after that
# long (the console program's single-counter mode waits for one); otherwise
# standard input is empty. No suppressions: the runtimes here need none, and
# memory the loader keeps for the never-unloaded counter library is still
# reachable, not lost.
# usage: memcheck.sh [--key-after SECONDS] PROGRAM [ARGS...]
set -uo pipefail
key_after=
if [ "${1:-}" = --key-after ]; then key_after=$2; shift 2; fi
memcheck=(valgrind --quiet --error-exitcode=99 --leak-check=full
          --show-leak-kinds=definite,indirect,possible
          --errors-for-leak-kinds=definite,indirect,possible)
if [ -n "$key_after" ]; then
  (sleep "$key_after"; echo) | "${memcheck[@]}" "$@" >/dev/null
else
  "${memcheck[@]}" "$@" </dev/null >/dev/null
fi
