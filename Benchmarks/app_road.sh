#!/usr/bin/env bash
# The application on the whole road (private buses, the stand-in logind, the real helper):
# 1. `wexlactl status` answered by the application, side by side with dbus-send pinging the
#    application's bus name (one request and its answer on the same bus);
# 2. from the start of `wexlactl on` to the lock held at the stand-in logind;
# 3. the application over 60 s idle and 60 s holding: wake-ups, armed timers, resident memory,
#    with its tray icon registered at a stand-in desktop (the tests' watcher and notice server).
#   Benchmarks/app_road.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
build_dir=$(cd "${1:-build}" && pwd)
seconds=${2:-60}
tool="$build_dir/Sources/WexlaCLI/wexlactl"
source "$(dirname "$0")/../scripts/road.sh"
work=$(mktemp -d)
trap 'road_stop; rm -rf "$work"' EXIT
export HOME="$work"

mkfifo "$work/locks"
exec 3<>"$work/locks"
ROAD_LOGIND_OUT="$work/locks" road_start "$build_dir" "$work"
read -r ready <&3
"$build_dir/Tests/wexla_standin_desktop" >"$work/desktop.out" &
road_pids+=($!)
for _ in $(seq 50); do grep -q '^registered' "$work/desktop.out" && break; sleep 0.1; done
grep -q '^registered' "$work/desktop.out" || { echo "the tray icon did not register" >&2; exit 1; }

echo "== wexlactl status against a ping of the application, ${RUNS:-300} runs each"
hyperfine --shell=none --warmup 30 --runs "${RUNS:-300}" --export-csv "$work/times.csv" \
  -n "wexlactl status" "$tool status" \
  -n "dbus-send Ping" "dbus-send --session --print-reply --dest=dev.wexla.app / org.freedesktop.DBus.Peer.Ping"
awk -F, 'NR > 1 { gsub(/"/, "", $1); mean[$1] = $2; median[$1] = $4 }
  END {
    printf "\nmedian: wexlactl status %.2f ms, dbus-send Ping %.2f ms\n",
           median["wexlactl status"] * 1000, median["dbus-send Ping"] * 1000
    printf "wexlactl status / dbus-send Ping = %.2f by mean, %.2f by median (target: at most 1.3)\n",
           mean["wexlactl status"] / mean["dbus-send Ping"],
           median["wexlactl status"] / median["dbus-send Ping"]
  }' "$work/times.csv"

echo
echo "== from the start of wexlactl on to the lock held, ${LOCKS:-100} times"
for _ in $(seq "${LOCKS:-100}"); do
  start=$EPOCHREALTIME
  "$tool" on >/dev/null
  read -r line <&3  # "inhibit ...": the helper holds the lock
  echo "$start $EPOCHREALTIME" >>"$work/latency"
  "$tool" off >/dev/null
  read -r line <&3  # "released ..."
done
awk '{ print ($2 - $1) * 1000 }' "$work/latency" | sort -n |
  awk '{ v[NR] = $1 } END { printf "median %.2f ms, 90th percentile %.2f ms, max %.2f ms (target: median at most 10 ms)\n", v[int((NR + 1) / 2)], v[int(NR * 0.9)], v[NR] }'

# Voluntary context switches: each is the application waking from its wait.
wakeups() { awk '/^voluntary_ctxt_switches/ { print $2 }' "/proc/$road_app_pid/status"; }
armed_timers() {
  local fd count=0
  for fd in /proc/"$road_app_pid"/fd/*; do
    [ "$(readlink "$fd")" = "anon_inode:[timerfd]" ] || continue
    grep -q '^it_value: (0, 0)' "/proc/$road_app_pid/fdinfo/${fd##*/}" || count=$((count + 1))
  done
  echo "$count"
}
resident() { awk '/^VmRSS/ { printf "%.1f MiB", $2 / 1024 }' "/proc/$road_app_pid/status"; }

echo
echo "== the application over ${seconds} s"
before=$(wakeups)
timers=$(armed_timers)
sleep "$seconds"
echo "nothing held: $(($(wakeups) - before)) wake-ups, $timers armed timers, resident $(resident)"
"$tool" on >/dev/null
read -r line <&3
sleep 1
before=$(wakeups)
sleep "$seconds"
echo "holding: $(($(wakeups) - before)) wake-ups in ${seconds} s (a heartbeat every 5 s, a check" \
  "and its answer every 15 s), $(armed_timers) armed timers, resident $(resident) (target: at most 5 MiB" \
  "with the tray icon registered)"
"$tool" off >/dev/null
