#!/usr/bin/env bash
# Runs the C example host against orv-emulator started as a separate process.
set -euo pipefail
emulator=$1 host=$2
work=$(mktemp -d)
coproc EMU { exec "$emulator" --quiet; }
emu_pid=$EMU_PID
trap 'kill "$emu_pid" 2>/dev/null || true; wait "$emu_pid" 2>/dev/null || true; rm -rf "$work"' EXIT

read -r _ _ base <&"${EMU[0]}"  # "base URL: https://127.0.0.1:PORT"
read -r _ _ ca <&"${EMU[0]}"    # "CA file:  /path"
{
  echo "time,lat,lng,alt,hacc,vacc,speed"
  for i in $(seq 0 19); do echo "$i,31.2$((285 + i)),121.4718,4,5,8,1.3"; done
} >"$work/track.csv"

"$host" "$base" "$ca" orv-demo-key "$work/track.csv" 3 | tee "$work/out"
for line in '^position 3: {"id":' '^reverse geocode: ' '^nearby: [0-9]* hits'; do
  grep -q "$line" "$work/out" || { echo "missing: $line" >&2; exit 1; }
done
