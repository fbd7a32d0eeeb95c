#!/usr/bin/env bash
# The Debian package on a fresh system of the release it is built on (Debian 12 or 13): made with
# debootstrap, the package installed by apt (which resolves its dependencies from the archive,
# without recommended packages), its files, desktop file and metadata checked, what the program
# loads at run time present, and the program started from its menu entry's Exec= line on the
# headless session's X display, where its window must appear.
#
#   tst_package.sh BUILD-DIR APP-ID [CMAKE-ARG...]
#
# The package is made by scripts/package in BUILD-DIR/package-build, with the CMAKE-ARGs, unless
# QUILLPOST_PACKAGE names one. Needs root (debootstrap, chroot) and the Debian archive
# (QUILLPOST_DEBIAN_MIRROR, default http://deb.debian.org). The fresh system is kept as a tarball
# in BUILD-DIR/package-test-cache with the packages apt downloaded, so later runs only unpack it.
set -euo pipefail
build=$1 id=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
root_dir=$(cd "$here/../.." && pwd)
# shellcheck source=tests/package/installed-tree.sh
source "$here/installed-tree.sh"

# Like the other session tests: skipped outside the headless session, failing inside it when
# there is no display.
if [[ -z ${QUILLPOST_HEADLESS_SESSION:-} ]]; then
    echo "SKIP: needs the headless session (scripts/headless-session)"
    exit 77
fi
[[ -n ${DISPLAY:-} ]] || { problem "no X display in the headless session"; exit 1; }
if ((EUID != 0)); then
    exec sudo --preserve-env "$0" "$build" "$id" "$@"
fi

mirror=${QUILLPOST_DEBIAN_MIRROR:-http://deb.debian.org}
cache=$build/package-test-cache
mkdir -p "$cache/archives"

system=$(mktemp -d "${TMPDIR:-/tmp}/quillpost-package-test.XXXXXX")
program_pid='' bus_pid=''
cleanup() {
    local pid
    for pid in $program_pid $bus_pid; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$system"
}
trap cleanup EXIT

timed() {
    local label=$1 start=$SECONDS
    shift
    "$@"
    echo "$label: $((SECONDS - start)) s" >&2
}

# 1. The package.
if [[ -n ${QUILLPOST_PACKAGE:-} ]]; then
    package=$QUILLPOST_PACKAGE
else
    package=$(QUILLPOST_PACKAGE_BUILD_DIR=$build/package-build timed "building the package" \
        "$root_dir/scripts/package" "$@" | tail -n1)
fi
[[ -f $package ]] || { problem "no package at '$package'"; exit 1; }

# 2. A fresh system of this release (the minimal variant: essential packages and apt): a package
# built here depends on this release's library names.
release=$(. /etc/os-release && echo "$VERSION_CODENAME")
bootstrap() {
    local fresh=$system/bootstrap
    debootstrap --variant=minbase "$release" "$fresh" "$mirror/debian" >"$cache/debootstrap.log" 2>&1 ||
        { problem "debootstrap failed:"; tail -n 20 "$cache/debootstrap.log" >&2; return 1; }
    tar -C "$fresh" -cf "$cache/$release.tar.partial" . && mv "$cache/$release.tar.partial" "$cache/$release.tar"
    rm -rf "$fresh"
}
[[ -f $cache/$release.tar ]] || timed "making a fresh $release with debootstrap" bootstrap
fresh=$system/root
mkdir "$fresh"
tar -C "$fresh" -xf "$cache/$release.tar"
rm -f "$fresh/etc/apt/sources.list.d/debian.sources"
cat >"$fresh/etc/apt/sources.list" <<SOURCES
deb $mirror/debian $release main
deb $mirror/debian $release-updates main
deb $mirror/debian-security $release-security main
SOURCES

# 3. Installed by apt, which resolves what the package depends on from the archive. Packages
# downloaded by an earlier run are offered to apt again (it checks them against the archive).
install_package() {
    cp "$cache"/archives/*.deb "$fresh/var/cache/apt/archives/" 2>/dev/null || true
    cp "$package" "$fresh/tmp/"
    if ! chroot "$fresh" apt-get update -q >"$cache/apt.log" 2>&1 ||
        ! DEBIAN_FRONTEND=noninteractive chroot "$fresh" apt-get install -y -q --no-install-recommends \
            "/tmp/$(basename "$package")" >>"$cache/apt.log" 2>&1; then
        problem "apt could not install the package:"
        tail -n 30 "$cache/apt.log" >&2
        return 1
    fi
    rm -f "$cache"/archives/*.deb
    cp "$fresh"/var/cache/apt/archives/*.deb "$cache/archives/"
}
timed "installing the package and its dependencies" install_package

# 4. Its files, desktop file and metadata.
mapfile -t files < <(chroot "$fresh" dpkg-query -L quillpost | while read -r path; do
    [[ -f $fresh$path ]] && echo "$path"; done)
check_installed_tree "$fresh" /usr "$id" "${files[@]}"

# 5. What the program loads at run time that its library links do not show.
qt=/usr/lib/x86_64-linux-gnu/qt6
missing=0
for need in "$qt/plugins/platforms/libqxcb.so:Qt's X11 platform" \
    "$qt/plugins/platforms/libqwayland-generic.so:Qt's Wayland platform" \
    "/usr/lib/x86_64-linux-gnu/libcanberra.so.0:libcanberra (the new-message sound)" \
    "/usr/share/qt6/translations/qtbase_zh_CN.qm:Qt's Chinese translations"; do
    [[ -f $fresh${need%%:*} ]] || { problem "missing: ${need#*:} (${need%%:*})"; missing=1; }
done
[[ -n $(chroot "$fresh" fc-list :lang=zh-cn family) ]] ||
    { problem "no installed font covers Simplified Chinese"; missing=1; }
((missing == 0))

# 6. The program started from its menu entry, as the fresh system's own: on the session's X
# display (reached through its abstract socket) with a private session bus of its own.
read -r -a command <<<"$(desktop_value "$fresh" /usr "$id" Exec | sed 's/%[a-zA-Z]//g')"
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 \
    --address="unix:abstract=/tmp/quillpost-package-test-$$")
bus_pid=$(sed -n 2p <<<"$bus")
mkdir -p "$fresh/home/user" && mkdir -m 700 "$fresh/run/user-session"
chroot "$fresh" env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" LANG=C.UTF-8 HOME=/home/user \
    XDG_RUNTIME_DIR=/run/user-session DBUS_SESSION_BUS_ADDRESS="$(sed -n 1p <<<"$bus")" \
    "${command[@]}" >"$system/program.log" 2>&1 &
program_pid=$!

# Waits up to 30 s for a condition, given as a command, while the program runs.
wait_while_running() {
    local _
    for _ in $(seq 600); do
        "$@" && return 0
        kill -0 "$program_pid" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}
program_window() { window=$(wmctrl -lp | awk -v pid="$program_pid" '$3 == pid { print $1; exit }') && [[ -n $window ]]; }
if ! wait_while_running program_window; then
    problem "the program started from Exec=${command[*]} showed no window within 30 s"
    cat "$system/program.log" >&2
    exit 1
fi
# The desktop's launcher ties the window to the menu entry by its class.
class=$(xprop -id "$window" WM_CLASS | sed -n 's/.*", "\(.*\)"$/\1/p')
[[ $class == "$(desktop_value "$fresh" /usr "$id" StartupWMClass)" ]] ||
    { problem "the window's class '$class' is not the desktop file's StartupWMClass"; exit 1; }
kill -0 "$program_pid" 2>/dev/null || { problem "the program exited after showing its window"; exit 1; }
echo "PASS: the package installs on a fresh $release and its program starts from its menu entry"
