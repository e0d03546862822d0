#!/usr/bin/env bash
# `cmake --install` into a staging directory lays out exactly the expected tree, and the unit
# names the helper where it was installed.
#   install_tree_test.sh BUILD_DIR
set -u
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null || { echo "install failed"; exit 1; }
got=$(cd "$stage" && find . -type f | sort)
expected="./usr/bin/wexla
./usr/bin/wexlactl
./usr/lib/systemd/system/wexla-helper.service
./usr/lib/systemd/user/wexla.service
./usr/libexec/wexla_helper
./usr/share/bash-completion/completions/wexlactl
./usr/share/dbus-1/system-services/dev.wexla.helper.service
./usr/share/dbus-1/system.d/dev.wexla.helper.conf
./usr/share/doc/wexla/README.Debian
./usr/share/fish/vendor_completions.d/wexlactl.fish
./usr/share/man/man1/wexla.1
./usr/share/man/man1/wexlactl.1
./usr/share/polkit-1/actions/dev.wexla.helper.policy
./usr/share/zsh/vendor-completions/_wexlactl"
failed=0
if [ "$got" != "$expected" ]; then
  printf 'FAIL the installed tree\n--- expected\n%s\n--- got\n%s\n' "$expected" "$got"
  failed=1
fi
if ! grep -qx 'ExecStart=/usr/libexec/wexla_helper' "$stage/usr/lib/systemd/system/wexla-helper.service"; then
  echo "FAIL the unit does not start /usr/libexec/wexla_helper"
  failed=1
fi
if ! grep -qx 'ExecStart=/usr/bin/wexla' "$stage/usr/lib/systemd/user/wexla.service"; then
  echo "FAIL the user unit does not start /usr/bin/wexla"
  failed=$((failed + 1))
fi
echo "$((3 - failed)) passed, $failed failed"
exit "$failed"
