# The whole road on private buses, for the demo and the benchmarks (source it, do not run it):
# a session bus, a bus configured like the system bus with the helper's own policy, stand-ins for
# logind and polkit, the built helper and application. Nothing of the user's is touched.
#
#   road_start BUILD_DIR WORK   starts it all, with the files in WORK; exports the bus addresses
#   road_stop                   stops what road_start started
# The stand-in logind prints each lock it hands out and each it sees go to WORK/logind.out (or
# to ROAD_LOGIND_OUT, a FIFO say); the helper and the application log to WORK/helper.log and
# WORK/app.log.

road_pids=()

road_stop() {
  local pid
  for pid in "${road_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  road_pids=()
}

# Waits until some peer owns a name on the bus at the given address.
road_wait_for_name() {
  local address=$1 name=$2
  for _ in $(seq 100); do
    dbus-send --bus="$address" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner "string:$name" 2>/dev/null | grep -q 'boolean true' &&
      return 0
    sleep 0.1
  done
  echo "$name never appeared on the bus" >&2
  return 1
}

road_start() {
  local build=$1 work=$2 address pid
  local top
  top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  { read -r address; read -r pid; } < <(dbus-daemon --session --fork --print-address=1 \
    --print-pid=1 2>/dev/null)
  road_pids+=("$pid")
  # Without the bus's guid, as a system gives it: a client may then reach a restarted bus.
  export DBUS_SESSION_BUS_ADDRESS="${address%%,guid=*}"
  # Here whoever runs this may provide the helper; the real policy lets only root.
  printf '<busconfig><policy context="default"><allow own="dev.wexla.helper"/></policy></busconfig>\n' \
    >"$work/road-owner.conf"
  sed -e "s#@SOCKET@#$work/system_bus_socket#" \
    -e "s#@INCLUDES@#<include>$top/packaging/linux/dev.wexla.helper.conf</include><include>$work/road-owner.conf</include>#" \
    "$top/Tests/Support/system-bus.conf.in" >"$work/system-bus.conf"
  { read -r address; read -r pid; } < <(dbus-daemon --config-file="$work/system-bus.conf" --fork \
    --print-address=1 --print-pid=1 2>/dev/null)
  road_pids+=("$pid")
  export DBUS_SYSTEM_BUS_ADDRESS="${address%%,guid=*}"
  unset XDG_RUNTIME_DIR JOURNAL_STREAM

  "$build/Tests/wexla_fake_logind" >"${ROAD_LOGIND_OUT:-$work/logind.out}" 2>&1 &
  road_pids+=($!)
  "$build/Tests/wexla_fake_polkit" --record "$work/polkit.asked" >/dev/null 2>&1 &
  road_pids+=($!)
  road_wait_for_name "$DBUS_SYSTEM_BUS_ADDRESS" org.freedesktop.login1 &&
    road_wait_for_name "$DBUS_SYSTEM_BUS_ADDRESS" org.freedesktop.PolicyKit1 || return 1

  "$build/Sources/WexlaHelperD/wexla_helper" 2>"$work/helper.log" &
  road_pids+=($!)
  road_helper_pid=$!
  road_wait_for_name "$DBUS_SYSTEM_BUS_ADDRESS" dev.wexla.helper || return 1
  "$build/Sources/WexlaApp/wexla" 2>"$work/app.log" &
  road_pids+=($!)
  road_app_pid=$!
  road_wait_for_name "$DBUS_SESSION_BUS_ADDRESS" dev.wexla.app
}
