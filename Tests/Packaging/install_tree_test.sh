#!/usr/bin/env bash
# `cmake --install` into a staging directory lays out exactly the expected tree.
#   install_tree_test.sh BUILD_DIR
set -u
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$1" --prefix /usr >/dev/null || { echo "install failed"; exit 1; }
got=$(cd "$stage" && find . -type f | sort)
expected="./etc/xdg/autostart/wexla.desktop
./usr/bin/wexla
./usr/bin/wexlactl
./usr/lib/systemd/system/wexla-helper.service
./usr/lib/systemd/user/wexla.service
./usr/libexec/wexla_helper
./usr/share/bash-completion/completions/wexlactl
./usr/share/dbus-1/system-services/dev.wexla.helper.service
./usr/share/dbus-1/system.d/dev.wexla.helper.conf
./usr/share/doc/wexla/README.Debian
./usr/share/doc/wexla/changelog.Debian.gz
./usr/share/doc/wexla/copyright
./usr/share/fish/vendor_completions.d/wexlactl.fish
./usr/share/icons/hicolor/scalable/status/wexla-held.svg
./usr/share/icons/hicolor/scalable/status/wexla-idle.svg
./usr/share/icons/hicolor/scalable/status/wexla-trouble.svg
./usr/share/lintian/overrides/wexla
./usr/share/man/man1/wexla.1.gz
./usr/share/man/man1/wexlactl.1.gz
./usr/share/polkit-1/actions/dev.wexla.helper.policy
./usr/share/zsh/vendor-completions/_wexlactl"
[ "$got" == "$expected" ] && exit 0
printf 'FAIL the installed tree\n--- expected\n%s\n--- got\n%s\n' "$expected" "$got"
exit 1
