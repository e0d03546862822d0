#!/usr/bin/env bash
# Builds the Debian package in a Debian 11 (bullseye) root, installs it there with apt, runs the
# programs, starts the helper through the system bus as a system without systemd does, and
# removes the package again: proof that a package built on the oldest release we support runs
# there. Not part of CI: it fetches Debian's packages and builds CMake, which takes a while.
#   scripts/debian11-package.sh [ROOT]      as root; ROOT defaults to /var/tmp/wexla-bullseye and
#                                           is kept for the next run
# Bullseye lacks two things the build needs, and neither reaches the package: CMake 3.25 (it has
# 3.18, and its backports have left Debian's mirror), built here from Debian's own 3.25.1 source;
# and nlohmann-json 3.10 (it has 3.9.1), a header library used only at build time, taken from
# Debian 12's architecture-independent package. The compiler, glibc and libsystemd are
# bullseye's own.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
root=${1:-/var/tmp/wexla-bullseye}
mirror=http://deb.debian.org/debian
cmake_version=3.25.1
json_package=nlohmann-json3-dev_3.11.2-2_all.deb

say() { printf '==> %s\n' "$*"; }
in_root() {
  chroot "$root" env -i PATH=/opt/cmake/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}
[ "$(id -u)" -eq 0 ] || { echo "run as root: debootstrap and chroot need it" >&2; exit 2; }

if [ ! -e "$root/etc/debian_version" ]; then
  say "debootstrap bullseye into $root"
  command -v debootstrap >/dev/null || apt-get install -y -qq --no-install-recommends debootstrap
  debootstrap --variant=minbase bullseye "$root" "$mirror" >/dev/null
fi
mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
bus_pid=""
cleanup() {
  if [ -n "$bus_pid" ]; then kill "$bus_pid" 2>/dev/null || true; fi
  rm -f "$root/run/dbus/pid" "$root/run/dbus/system_bus_socket"
  umount "$root/proc" 2>/dev/null || true
}
trap cleanup EXIT

say "Debian $(cat "$root/etc/debian_version") root: the build's packages"
in_root apt-get update -qq
in_root apt-get install -y -qq --no-install-recommends g++ make pkg-config libsystemd-dev \
  dpkg-dev file libssl-dev curl ca-certificates procps >/dev/null

if [ ! -x "$root/opt/cmake/bin/cmake" ]; then
  say "CMake $cmake_version from Debian's source, built with bullseye's compiler"
  mkdir -p "$root/opt/src"
  curl -sSf "$mirror/pool/main/c/cmake/cmake_$cmake_version.orig.tar.gz" |
    tar -xz -C "$root/opt/src"
  in_root sh -c "cd /opt/src/cmake-$cmake_version && ./bootstrap --prefix=/opt/cmake --parallel=2 \
    -- -DCMAKE_USE_OPENSSL=ON -DBUILD_TESTING=OFF -DBUILD_CursesDialog=OFF >/dev/null &&
    make -j2 >/dev/null && make install >/dev/null"
fi
if [ ! -d "$root/opt/nlohmann/usr/include/nlohmann" ]; then
  say "nlohmann-json headers from Debian 12's $json_package"
  curl -sSf -o "$root/opt/$json_package" "$mirror/pool/main/n/nlohmann-json3/$json_package"
  in_root dpkg-deb -x "/opt/$json_package" /opt/nlohmann
fi

say "building the package from this tree's HEAD"
rm -rf "$root/opt/wexla"
mkdir -p "$root/opt/wexla/src"
git -C "$here" archive HEAD | tar -x -C "$root/opt/wexla/src"
in_root sh -c 'cd /opt/wexla &&
  cmake -S src -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEXLA_BUILD_TESTS=OFF \
    -DCMAKE_PREFIX_PATH=/opt/nlohmann/usr >/dev/null &&
  cmake --build build -j2 >/dev/null &&
  cd build && cpack -G DEB >/dev/null'
in_root sh -c 'g++ --version | head -n 1; cmake --version | head -n 1; ldd --version | head -n 1'
package=$(cd "$root/opt/wexla/build" && ls wexla_*.deb)
say "$package: Depends: $(dpkg-deb -f "$root/opt/wexla/build/$package" Depends)"

say "apt install ./$package"
in_root apt-get install -y -qq --no-install-recommends "/opt/wexla/build/$package" |
  grep -E '^(Setting up|Unpacking) ' || true
failed=0
check() {  # what, then a command that must succeed in the root
  if in_root "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failed=$((failed + 1)); fi
}
check "wexlactl --help prints its usage" sh -c 'wexlactl --help | grep -q "^usage: wexlactl"'
check "wexla_helper --version" sh -c '/usr/libexec/wexla_helper --version | grep -q "^wexla_helper "'
check "wexlactl status answers without an application (status 1, no crash)" \
  sh -c 'wexlactl status; test $? -eq 1'
check "the helper's program starts with bullseye's libraries" \
  sh -c '! ldd /usr/libexec/wexla_helper /usr/bin/wexla /usr/bin/wexlactl | grep -q "not found"'
check "the user unit is enabled for every user" \
  test -L /etc/systemd/user/default.target.wants/wexla.service

say "a system bus without systemd starts the helper on the first call"
in_root mkdir -p /run/dbus
rm -f "$root/run/dbus/pid" "$root/run/dbus/system_bus_socket"  # a run that was killed
in_root dbus-daemon --system --fork --print-pid=1 >"$root/opt/wexla/bus.pid"
bus_pid=$(cat "$root/opt/wexla/bus.pid")
in_root dbus-send --system --print-reply --dest=dev.wexla.helper /dev/wexla/helper \
  dev.wexla.HelperProtocol.CurrentDisableSleep 2>&1 | sed 's/^/  /' || true
sleep 1
check "the helper runs, started by the bus" pgrep -f '^/usr/libexec/wexla_helper --exit-when-idle'
# The root shares the machine's processes: only the root's own helper is of interest.
in_root ps -o pid,user,rss,args -C wexla_helper | grep -e PID -e ' /usr/libexec/' | sed 's/^/  /' || true

say "apt remove wexla"
in_root apt-get remove -y -qq wexla | grep -E '^Removing ' || true
check "the helper stopped before its files went" sh -c '! pgrep -f "^/usr/libexec/wexla_helper"'
in_root apt-get purge -y -qq wexla >/dev/null
check "purging takes the enabling back" test ! -e /etc/systemd/user/default.target.wants/wexla.service
echo "$failed failed"
[ "$failed" -eq 0 ]
