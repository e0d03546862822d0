#!/usr/bin/env bash
# The Debian package installs into a throwaway root and removes cleanly, leaving no file of its
# own behind; its maintainer scripts leave a root installed from outside alone.
#   debian_package_test.sh BUILD_DIR
set -u
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
check() {  # what, then a command that must succeed
  "${@:2}" || { failed=$((failed + 1)); echo "FAIL $1"; }
}

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null) || { echo "FAIL cpack"; exit 1; }
package=$(ls "$work"/*.deb)
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg=(dpkg --root="$root" --force-not-root --force-depends --force-script-chrootless)

check "the libraries it needs come with their least versions" \
  grep -q 'libsystemd0 (>= ' <(dpkg-deb -f "$package" Depends)
check "maintainer scripts start and stop what it installs" \
  test "$(dpkg-deb --ctrl-tarfile "$package" | tar -t | grep -cxE '\./(postinst|prerm|postrm)')" -eq 3
check "the autostart entry is a conffile" \
  grep -qx /etc/xdg/autostart/wexla.desktop <(dpkg-deb --ctrl-tarfile "$package" | tar -xO ./conffiles)
check "installs" "${dpkg[@]}" -i "$package"
check "the tool and the application are installed" test -x "$root/usr/bin/wexlactl" -a -x "$root/usr/bin/wexla"
check "the system unit starts the helper to end when idle" \
  grep -qx 'ExecStart=/usr/libexec/wexla_helper --exit-when-idle' "$root/usr/lib/systemd/system/wexla-helper.service"
check "and so does the bus without systemd" \
  grep -qx 'Exec=/usr/libexec/wexla_helper --exit-when-idle' "$root/usr/share/dbus-1/system-services/dev.wexla.helper.service"
check "the user unit starts the application" grep -qx 'ExecStart=/usr/bin/wexla' "$root/usr/lib/systemd/user/wexla.service"
check "its scripts leave a root installed from outside alone" \
  test -z "$(find "$root" -path '*wants*' -o -name '*.wants')"
files() { find "$root" -type f -not -path "$root/var/lib/dpkg/*"; }
check "removes" "${dpkg[@]}" -r wexla
check "keeping only the conffile" test "$(files)" = "$root/etc/xdg/autostart/wexla.desktop"
check "purges" "${dpkg[@]}" -P wexla
check "leaves no file behind" test -z "$(files)"
echo "$failed failed"
[ "$failed" -eq 0 ]
