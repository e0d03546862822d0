#!/usr/bin/env bash
# The application under a flood of command texts on the whole road (private buses, the stand-in
# logind, the real helper): SENDERS programs post TEXTS texts in all as fast as the bus takes
# them, while a probe keeps asking `wexlactl status`. It reports the texts handled a second, the
# worst round trip of the probe during the flood, and resident memory idle, at its peak during
# the flood and 10 s after, side by side.
#   Benchmarks/app_flood.sh [BUILD_DIR] [TEXTS] [SENDERS] [TEXT]
set -euo pipefail
build_dir=$(cd "${1:-build}" && pwd)
texts=${2:-50000}
senders=${3:-4}
text=${4:-status}
tool="$build_dir/Sources/WexlaCLI/wexlactl"
source "$(dirname "$0")/../scripts/road.sh"
work=$(mktemp -d)
trap 'road_stop; rm -rf "$work"' EXIT
export HOME="$work"
road_start "$build_dir" "$work"

resident_kib() { awk '/^VmRSS/ { print $2 }' "/proc/$road_app_pid/status"; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }

"$tool" status >/dev/null
idle=$(resident_kib)
echo "== $texts \"$text\" texts from $senders senders at once"
start=$EPOCHREALTIME
flooders=()
for _ in $(seq "$senders"); do
  "$build_dir/Benchmarks/text_flood" $((texts / senders)) "$text" &
  flooders+=($!)
done
peak=$idle worst=0
# The probe: each round trip while the flood is on, and the peak memory seen meanwhile.
while kill -0 "${flooders[@]}" 2>/dev/null; do
  asked=$EPOCHREALTIME
  "$tool" status >/dev/null || true
  trip=$(awk -v a="$asked" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.0f", (b - a) * 1000 }')
  [ "$trip" -gt "$worst" ] && worst=$trip
  now=$(resident_kib)
  [ "$now" -gt "$peak" ] && peak=$now
done
wait "${flooders[@]}"
# The flood is handled once a text posted after it is answered.
until "$tool" status >/dev/null; do :; done
elapsed=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')
sleep 10
after=$(resident_kib)
awk -v n="$texts" -v s="$elapsed" 'BEGIN { printf "handled: %.0f texts a second (%d in %.2f s)\n", n / s, n, s }'
echo "worst round trip of wexlactl status during the flood: $worst ms (wexlactl gives up at 2000 ms)"
echo "resident memory: idle $(mib "$idle"), peak $(mib "$peak"), 10 s after $(mib "$after")" \
  "(target: back within 5 MiB of idle)"
