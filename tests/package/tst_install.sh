#!/usr/bin/env bash
# `cmake --install` of the build tree into a throw-away folder, with the prefix /usr given then
# (the build tree is configured with its default, /usr/local): the files installed, the desktop
# file and the metadata are checked.
#
#   tst_install.sh BUILD-DIR APP-ID
set -euo pipefail
build=$1 id=$2
# shellcheck source=tests/package/installed-tree.sh
source "$(dirname "$0")/installed-tree.sh"

dest=$(mktemp -d "${TMPDIR:-/tmp}/quillpost-install.XXXXXX")
trap 'rm -rf "$dest"' EXIT
prefix=/usr
DESTDIR=$dest cmake --install "$build" --prefix "$prefix" >/dev/null
mapfile -t installed < <(cd "$dest" && find . -type f -printf '/%P\n')
check_installed_tree "$dest" "$prefix" "$id" "${installed[@]}"
echo "PASS: cmake --install puts the program, its desktop file, icons and metadata in place"
