# What the Debian package's postinst does: the user unit enabled for every user on the first
# install ($1 = 1), the helper left to bus activation, and on an upgrade ($1 > 1) a running helper
# restarted on the new program.
if [ "$1" -eq 1 ]; then
  systemctl --global enable wexla.service >/dev/null 2>&1 || :
fi
if [ -d /run/systemd/system ]; then
  systemctl --system daemon-reload >/dev/null 2>&1 || :
  if [ "$1" -gt 1 ]; then
    systemctl try-restart wexla-helper.service >/dev/null 2>&1 || :
  fi
elif [ "$1" -gt 1 ]; then
  # Without systemd the bus started it: the next call starts the new one.
  pkill -TERM -f '^/usr/libexec/wexla_helper( |$)' >/dev/null 2>&1 || :
fi
