#!/usr/bin/env bash
# Whole-process cost of `wexlactl busy`, the hook that agents run on every tool use, side by
# side with /bin/true (the floor: starting any process) and with dbus-send posting the very same
# signal (a general-purpose client doing the same work), and with the wexlactl of another build
# when given one (an earlier commit's, or one built without the hardening flags). One private
# session bus serves them all.
#   Benchmarks/busy_startup.sh [BUILD_DIR] [BASELINE_BUILD_DIR]
set -euo pipefail
build_dir=${1:-build}
tool="$(cd "$build_dir" && pwd)/Sources/WexlaCLI/wexlactl"
baseline=()
[ -z "${2:-}" ] || baseline=(-n "baseline" "$(cd "$2" && pwd)/Sources/WexlaCLI/wexlactl busy")
work=$(mktemp -d)
bus_pid=""
cleanup() {
  if [ -n "$bus_pid" ]; then kill "$bus_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

{ read -r address; read -r bus_pid; } < <(dbus-daemon --session --fork --print-address=1 \
  --print-pid=1 2>/dev/null)
export DBUS_SESSION_BUS_ADDRESS="$address"
export HOME="$work"

hyperfine --shell=none --warmup 50 --runs "${RUNS:-500}" --export-csv "$work/times.csv" \
  -n "wexlactl busy" "$tool busy" \
  -n "/bin/true" "/bin/true" \
  "${baseline[@]}" \
  -n "dbus-send" "dbus-send --session --type=signal /dev/wexla/DistributedNotificationCenter dev.wexla.DistributedNotificationCenter.Notification string:dev.wexla.command string:busy"

# Ratios of mean times, measured in the same run.
awk -F, 'NR > 1 { gsub(/"/, "", $1); mean[$1] = $2 }
  END {
    printf "\nmean: wexlactl busy %.2f ms, /bin/true %.2f ms, dbus-send %.2f ms\n",
           mean["wexlactl busy"] * 1000, mean["/bin/true"] * 1000, mean["dbus-send"] * 1000
    printf "wexlactl busy / dbus-send = %.2f (target: at most 1.00)\n", mean["wexlactl busy"] / mean["dbus-send"]
    printf "wexlactl busy / /bin/true = %.2f\n", mean["wexlactl busy"] / mean["/bin/true"]
    if ("baseline" in mean)
      printf "wexlactl busy / baseline = %.2f\n", mean["wexlactl busy"] / mean["baseline"]
  }' "$work/times.csv"
