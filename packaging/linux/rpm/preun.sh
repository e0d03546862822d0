# On removal ($1 = 0) the helper stops before its files go, and no user's session starts the
# application any more.
if [ "$1" -eq 0 ]; then
  systemctl --global disable wexla.service >/dev/null 2>&1 || :
  if [ -d /run/systemd/system ]; then
    systemctl stop wexla-helper.service >/dev/null 2>&1 || :
  fi
  pkill -TERM -f '^/usr/libexec/wexla_helper( |$)' >/dev/null 2>&1 || :
fi
