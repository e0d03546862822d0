#!/usr/bin/env bash
# The Debian package installs into a throwaway root, starts and enables nothing, and removes
# cleanly, leaving no file of its own behind.
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
check "no maintainer scripts: installing enables and starts nothing" \
  test -z "$(dpkg-deb --ctrl-tarfile "$package" | tar -t | grep -E 'inst|rm$')"
check "installs" "${dpkg[@]}" -i "$package"
check "the tool and the application are installed" test -x "$root/usr/bin/wexlactl" -a -x "$root/usr/bin/wexla"
check "the system unit starts the helper" grep -qx 'ExecStart=/usr/libexec/wexla_helper' "$root/usr/lib/systemd/system/wexla-helper.service"
check "the user unit starts the application" grep -qx 'ExecStart=/usr/bin/wexla' "$root/usr/lib/systemd/user/wexla.service"
check "the documentation says how to enable the helper" grep -q 'systemctl enable --now wexla-helper.service' "$root/usr/share/doc/wexla/README.Debian"
check "and the application" grep -q 'systemctl --user enable --now wexla.service' "$root/usr/share/doc/wexla/README.Debian"
check "nothing is enabled" test -z "$(find "$root" -path '*wants*' -o -name '*.wants')"
check "removes" "${dpkg[@]}" -r wexla
check "leaves no file behind" test -z "$(find "$root" -type f -not -path "$root/var/lib/dpkg/*")"
echo "$failed failed"
[ "$failed" -eq 0 ]
