#!/usr/bin/env bash
# Runs the epoll host example and checks that it exits cleanly with one line per outcome.
set -uo pipefail
host=$1 track=$2
out=$("$host" "$track")
rc=$?
echo "$out"
[ "$rc" -eq 0 ] || { echo "exit status $rc" >&2; exit 1; }
for line in '^fusion: [0-9.]+,[0-9.]+ ' '^reverse geocode: ' '^geocode: [1-9][0-9]* hits?' \
  '^place search: [1-9][0-9]* hits?' '^nearby search: [1-9][0-9]* hits?' '^position 3: ' \
  '^done: every outcome arrived$'; do
  grep -Eq "$line" <<<"$out" || { echo "missing: $line" >&2; exit 1; }
done
