#!/usr/bin/env bash
# orvloc convert on generated CSVs of points (id,lat,lng, 7 decimals): a 60 MB file of 2 million
# points, both directions, against `cat >/dev/null` and `wc -l` on the same file (the floor for
# reading it): wall and CPU time, MB/s of input, peak memory. Then the same on a 1 GB file (the
# 60 MB one repeated) for flat memory. Then a GeoJSON FeatureCollection of the same points (one
# Point feature each, with a property), on every core and on one thread. Files are read from the
# page cache, written to TMPDIR.
# Usage: bench/convert_file.sh [ORVLOC] [LARGE_MB (0: skip)] [extra orvloc options...]
set -euo pipefail
orvloc=${1:-build/orvloc}
large_mb=${2:-1024}
shift $(($# > 2 ? 2 : $#))
dir=$(mktemp -d "${TMPDIR:-/tmp}/orvloc_bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT

# 2,000,000 points over the coordinate benchmark's ranges (latitude 18..50.9, longitude
# 75..137.2), seeded.
awk 'BEGIN {
  srand(20240607); print "id,lat,lng"
  for (i = 0; i < 2000000; ++i) printf "%d,%.7f,%.7f\n", i, 18 + rand() * 32.8768, 75 + rand() * 62.1632
}' >"$dir/wgs.csv"

measure() {  # label, input file, command...
  local label=$1 bytes
  bytes=$(stat -c %s "$2")
  shift 2
  /usr/bin/time -v "$@" 2>"$dir/time" >/dev/null || { cat "$dir/time"; exit 1; }
  awk -v label="$label" -v bytes="$bytes" -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); wall = t[n] + (n > 1 ? t[n-1] * 60 : 0) + (n > 2 ? t[n-2] * 3600 : 0) }
    /User time/ { user = $2 } /System time/ { sys = $2 } /Maximum resident/ { rss = $2 }
    END { printf "%-30s wall %6.2f s (%6.1f MB/s)  cpu %6.2f s  peak %6.1f MB\n",
                 label, wall, bytes / 1e6 / wall, user + sys, rss / 1024 }' "$dir/time"
}

run() {  # file, label, extra options...
  local f=$1 what=$2 ext=${1##*.}
  shift 2
  echo "$what: $(wc -l <"$f") lines, $(stat -c %s "$f") bytes, $(nproc) cores"
  cat "$f" >/dev/null  # into the page cache
  measure "cat >/dev/null" "$f" sh -c 'cat "$1" >/dev/null' sh "$f"
  measure "wc -l" "$f" wc -l "$f"
  measure "wgs84 -> gcj02" "$f" "$orvloc" convert --from wgs84 --to gcj02 --input "$f" \
    --output "$dir/gcj.$ext" "$@"
  measure "gcj02 -> wgs84 (iterative)" "$dir/gcj.$ext" "$orvloc" convert --from gcj02 --to wgs84 \
    --input "$dir/gcj.$ext" --output "$dir/back.$ext" "$@"
  rm -f "$dir/gcj.$ext" "$dir/back.$ext"
}

awk -F, 'NR == 1 { print "{\"type\":\"FeatureCollection\",\"features\":["; next }
  { printf "%s{\"type\":\"Feature\",\"properties\":{\"id\":%s},\"geometry\":{\"type\":\"Point\",\"coordinates\":[%s,%s]}}\n",
           (NR > 2 ? "," : ""), $1, $3, $2 }
  END { print "]}" }' "$dir/wgs.csv" >"$dir/wgs.geojson"

run "$dir/wgs.csv" "CSV, 60 MB" "$@"
run "$dir/wgs.geojson" "GeoJSON" "$@"
run "$dir/wgs.geojson" "GeoJSON, one thread" --threads 1 "$@"
rm "$dir/wgs.geojson"
if ((large_mb > 0)); then
  size=$(stat -c %s "$dir/wgs.csv")
  { cat "$dir/wgs.csv"; for ((i = size; i < large_mb * 1024 * 1024; i += size)); do
    tail -n +2 "$dir/wgs.csv"; done; } >"$dir/large.csv"
  rm "$dir/wgs.csv"
  run "$dir/large.csv" "CSV, large" "$@"
fi
