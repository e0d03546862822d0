# What the Debian package's postinst does: the user unit enabled for every user, the helper left
# to bus activation, and on an upgrade ($1 > 1) a running helper restarted on the new program.
if [ -d /run/systemd/system ]; then
  systemctl --system daemon-reload >/dev/null 2>&1 || :
  [ "$1" -gt 1 ] && systemctl try-restart wexla-helper.service >/dev/null 2>&1 || :
elif [ "$1" -gt 1 ]; then
  pkill -TERM -f '^/usr/libexec/wexla_helper( |$)' >/dev/null 2>&1 || :
fi
systemctl --global enable wexla.service >/dev/null 2>&1 || :
