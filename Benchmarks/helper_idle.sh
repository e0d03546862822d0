#!/usr/bin/env bash
# The helper's idle cost with nothing held, side by side with `systemd-inhibit --what=sleep sleep`
# holding a lock the plain way: wake-ups in 20 s (voluntary context switches) for the helper
# started by hand and started on demand (--exit-when-idle), then how long the one started on
# demand lasts, and resident memory and CPU time after SECONDS. All run on one private
# system-like bus with the test stand-ins for logind and polkit.
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

helper="$build_dir/Sources/WexlaHelperD/wexla_helper"
wakeups() {  # pid: voluntary context switches of all its threads so far
  cat /proc/"$1"/task/*/status | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n }'
}
count_wakeups() {  # name pid [name pid]...: wake-ups of each in the next 20 s
  local names=() watched=() before=() i
  while [ $# -gt 0 ]; do names+=("$1"); watched+=("$2"); before+=("$(wakeups "$2")"); shift 2; done
  sleep 20
  for i in "${!watched[@]}"; do
    printf '  %-40s %4d wake-ups in 20 s\n' "${names[$i]}" \
      $(($(wakeups "${watched[$i]}") - before[i]))
  done
}

# One helper at a time: the bus gives its name to one.
echo "started on demand, nothing held:"
start=$(date +%s.%N)
"$helper" --exit-when-idle 2>"$work/on-demand.log" & on_demand=$!
pids+=("$on_demand")
sleep 2
count_wakeups "wexla_helper --exit-when-idle" "$on_demand"
wait "$on_demand" && status=0 || status=$?
lasted=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
echo "  ended after $lasted s with status $status; its log:"
sed 's/^/    /' "$work/on-demand.log"

echo "started by hand, nothing held, beside systemd-inhibit holding a lock:"
JOURNAL_STREAM=benchmark "$helper" & by_hand=$!
pids+=("$by_hand")
systemd-inhibit --what=sleep --who=benchmark --why=benchmark sleep "$((seconds + 5))" & inhibit=$!
pids+=("$inhibit")
sleep 2
count_wakeups "wexla_helper" "$by_hand" "systemd-inhibit --what=sleep sleep" "$inhibit"
sleep "$((seconds > 22 ? seconds - 22 : 0))"

ticks=$(getconf CLK_TCK)
report() {  # name pid
  local rss cpu
  rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$2/status")
  cpu=$(awk -v t="$ticks" '{ printf "%.3f", ($14 + $15) / t }' "/proc/$2/stat")
  printf '%-40s %8s KiB resident %8s s CPU\n' "$1" "$rss" "$cpu"
}
echo "after $seconds s idle:"
report "wexla_helper (started by hand)" "$by_hand"
report "systemd-inhibit --what=sleep sleep" "$inhibit"
