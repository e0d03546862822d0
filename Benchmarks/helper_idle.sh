#!/usr/bin/env bash
# The helper's idle cost over a minute of watchdog ticks: resident memory and CPU time, side by
# side with `systemd-inhibit --what=sleep sleep 60` holding a lock the plain way. Both run on one
# private system-like bus with the test stand-ins for logind and polkit.
#   Benchmarks/helper_idle.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
build_dir=$(cd "${1:-build}" && pwd)
seconds=${2:-60}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

sed -e "s|@SOCKET@|$work/bus|" \
    -e "s|@INCLUDES@|<include>$here/packaging/linux/dev.wexla.helper.conf</include>|" \
    "$here/Tests/Support/system-bus.conf.in" > "$work/bus.conf"
dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=3 3>"$work/address" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/address" ] && break; sleep 0.05; done
DBUS_SYSTEM_BUS_ADDRESS=$(head -n 1 "$work/address")
export DBUS_SYSTEM_BUS_ADDRESS
"$build_dir/Tests/wexla_fake_logind" > "$work/logind.out" & pids+=($!)
"$build_dir/Tests/wexla_fake_polkit" --record "$work/asked" --answer authorized > /dev/null & pids+=($!)
sleep 0.5

JOURNAL_STREAM=benchmark "$build_dir/Sources/WexlaHelperD/wexla_helper" & helper=$!
pids+=("$helper")
systemd-inhibit --what=sleep --who=benchmark --why=benchmark sleep "$((seconds + 5))" & inhibit=$!
pids+=("$inhibit")
sleep "$seconds"

ticks=$(getconf CLK_TCK)
report() {  # name pid
  local rss cpu
  rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$2/status")
  cpu=$(awk -v t="$ticks" '{ printf "%.3f", ($14 + $15) / t }' "/proc/$2/stat")
  printf '%-40s %8s KiB resident %8s s CPU\n' "$1" "$rss" "$cpu"
}
echo "after $seconds s idle:"
report "wexla_helper (ticking every 5 s)" "$helper"
report "systemd-inhibit --what=sleep sleep" "$inhibit"
