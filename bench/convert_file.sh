#!/usr/bin/env bash
# orvloc convert on a generated CSV of points (id,lat,lng; default 1 GB), both directions, against
# `wc -l` on the same file (the floor for reading it): wall and CPU time, MB/s, peak memory.
# Usage: bench/convert_file.sh [ORVLOC] [SIZE_MB]. The files are deleted afterwards.
set -euo pipefail
orvloc=${1:-build/orvloc}
size_mb=${2:-1024}
dir=$(mktemp -d "${TMPDIR:-/tmp}/orvloc_bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT

# Points over the coordinate benchmark's ranges (latitude 18..50.9, longitude 75..137.2), seeded.
awk -v bytes=$((size_mb * 1024 * 1024)) 'BEGIN {
  srand(20240607); print "id,lat,lng"; n = 11
  for (i = 0; n < bytes; ++i) {
    line = sprintf("%d,%.7f,%.7f", i, 18 + rand() * 32.8768, 75 + rand() * 62.1632)
    print line; n += length(line) + 1
  }
}' >"$dir/wgs.csv"
echo "input: $(wc -l <"$dir/wgs.csv") lines, $(stat -c %s "$dir/wgs.csv") bytes"

measure() {  # label, input file, command...
  local label=$1 bytes
  bytes=$(stat -c %s "$2")
  shift 2
  /usr/bin/time -v "$@" 2>"$dir/time" >/dev/null || { cat "$dir/time"; exit 1; }
  awk -v label="$label" -v bytes="$bytes" -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); wall = t[n] + (n > 1 ? t[n-1] * 60 : 0) + (n > 2 ? t[n-2] * 3600 : 0) }
    /User time/ { user = $2 } /System time/ { sys = $2 } /Maximum resident/ { rss = $2 }
    END { printf "%-28s wall %6.2f s (%6.1f MB/s)  cpu %6.2f s (%6.1f MB/s)  peak %6.1f MB\n",
                 label, wall, bytes / 1e6 / wall, user + sys, bytes / 1e6 / (user + sys), rss / 1024 }' \
    "$dir/time"
}

measure "wc -l" "$dir/wgs.csv" wc -l "$dir/wgs.csv"
measure "wgs84 -> gcj02" "$dir/wgs.csv" "$orvloc" convert --from wgs84 --to gcj02 --input "$dir/wgs.csv" \
  --output "$dir/gcj.csv"
measure "wc -l (GCJ-02 file)" "$dir/gcj.csv" wc -l "$dir/gcj.csv"
measure "gcj02 -> wgs84 (iterative)" "$dir/gcj.csv" "$orvloc" convert --from gcj02 --to wgs84 --input "$dir/gcj.csv" \
  --output "$dir/back.csv"
