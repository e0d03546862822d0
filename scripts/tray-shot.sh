#!/usr/bin/env bash
# A picture of the application on a real desktop: Xvfb, a StatusNotifierItem tray
# (gtk-sni-tray-standalone with status-notifier-watcher) and the dunst notification daemon, with
# the whole road on private buses. It takes `wexlactl 2h`, kills the helper, opens the icon's
# menu and saves the screen with the icon, the menu and the notice:
#   scripts/tray-shot.sh BUILD_DIR [PNG]     (scripts/dev tray-shot installs what it needs)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
picture=${2:-$top/docs/tray.png}
tool="$build/Sources/WexlaCLI/wexlactl"
source "$top/scripts/road.sh"

work=$(mktemp -d)
desktop_pids=()
cleanup() {
  local pid
  for pid in "${desktop_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  road_stop
  rm -rf "$work"
}
trap cleanup EXIT
export HOME="$work"

# A display of our own: the first free number from 90 on.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1100x400x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
desktop_pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# The application starts before the tray: it registers once the watcher appears.
road_start "$build" "$work"
export GDK_BACKEND=x11 NO_AT_BRIDGE=1
status-notifier-watcher >"$work/watcher.log" 2>&1 &
desktop_pids+=($!)
mkdir -p "$work/dunst"
cat >"$work/dunst/dunstrc" <<'CONF'
[global]
    font = DejaVu Sans 9
    origin = bottom-right
    offset = 12x12
    width = 380
    timeout = 0
    frame_width = 1
    frame_color = "#88c0d0"
    icon_position = left
    max_icon_size = 32
[urgency_normal]
    background = "#3b4252"
    foreground = "#eceff4"
    timeout = 0
CONF
dunst -config "$work/dunst/dunstrc" >"$work/dunst.log" 2>&1 &
desktop_pids+=($!)
road_wait_for_name "$DBUS_SESSION_BUS_ADDRESS" org.freedesktop.Notifications

for _ in $(seq 100); do grep -q 'tray icon is registered' "$work/app.log" && break; sleep 0.1; done
"$tool" 2h
sleep 1
kill "$road_helper_pid"
sleep 2
"$tool" status
# The tray starts last: this one can draw an icon's changes out of order, but never its first.
gtk-sni-tray-standalone --top --beginning --size 30 --color '#2e3440' >"$work/tray.log" 2>&1 &
desktop_pids+=($!)

# The icon is the tray's first; a click opens its menu, a window of the tray's own.
window=$(xdotool search --sync --limit 1 --class gtk-sni-tray-standalone)
eval "$(xdotool getwindowgeometry --shell "$window")"
windows() { xdotool search --onlyvisible --class gtk-sni-tray-standalone 2>/dev/null | wc -l; }
before=$(windows)
for _ in 1 2 3 4 5; do
  sleep 1  # the host draws the icon once it has read it
  xdotool mousemove --sync $((X + 15)) $((Y + 15)) click 1
  sleep 1
  [ "$(windows)" -gt "$before" ] && break
done
[ "$(windows)" -gt "$before" ] || { echo "the menu did not open" >&2; exit 1; }
mkdir -p "$(dirname "$picture")"
import -window root -colors 64 "PNG8:$picture"
echo "saved $picture ($(du -k "$picture" | cut -f1) KiB)"
