# shellcheck shell=bash
# Checks an installed Quillpost inside a file tree; sourced by the install and package tests, not
# run. The tree is what `cmake --install` or the Debian package put under ROOT, with the prefix
# PREFIX (/usr, /usr/local, ...), for the desktop id APP_ID.
#
#   check_installed_tree ROOT PREFIX APP_ID FILE...
#       FILE...: the installed files, as absolute paths without ROOT
#   desktop_value ROOT PREFIX APP_ID KEY [GROUP]     a key's value in a group of the desktop file
#                                                    (default: the main group)
#
# Failures are printed to stderr, prefixed with `problem`; the functions return 1 on any.

icon_sizes=(16 22 24 32 48 64 128 256)

problem() { echo "FAIL: $*" >&2; }

desktop_value() {
    awk -v key="$4" -v wanted="[${5:-Desktop Entry}]" -F= '
        /^\[/ { group = $0; next }
        group == wanted && $1 == key { sub(/^[^=]*=/, ""); print; exit }
    ' "$1$2/share/applications/$3.desktop"
}

check_installed_tree() {
    local root=$1 prefix=$2 id=$3 failed=0 size
    shift 3

    # Exactly these files, nothing more: the local clip service, the tests and the benchmarks
    # are never installed.
    local expected=("$prefix/bin/quillpost" "$prefix/share/applications/$id.desktop"
        "$prefix/share/metainfo/$id.metainfo.xml" "$prefix/share/icons/hicolor/scalable/apps/$id.svg")
    for size in "${icon_sizes[@]}"; do
        expected+=("$prefix/share/icons/hicolor/${size}x$size/apps/$id.png")
    done
    local difference
    difference=$(diff <(printf '%s\n' "${expected[@]}" | sort) <(printf '%s\n' "$@" | sort)) ||
        { problem "installed files differ from the expected ones (< expected, > installed):"; echo "$difference" >&2; failed=1; }

    local desktop=$root$prefix/share/applications/$id.desktop
    desktop-file-validate "$desktop" >&2 || { problem "desktop-file-validate rejects $desktop"; failed=1; }
    # The metadata, and that its launchable is the installed desktop file (appstreamcli looks
    # under ROOT/usr only).
    local report
    if [[ $prefix != /usr ]]; then
        problem "the metadata can only be checked under the prefix /usr, not $prefix"
        failed=1
    elif ! report=$(appstreamcli validate-tree --no-net "$root" 2>&1) || [[ $report == *dir-no-metadata-found* ]]; then
        problem "appstreamcli rejects the metadata in $root:"
        echo "$report" >&2
        failed=1
    fi

    # The menu entry starts the installed program by its absolute path (KWin grants its
    # protocols only to such a program) and shows the installed icon.
    local exec icon
    exec=$(desktop_value "$root" "$prefix" "$id" Exec) || true
    [[ $exec == "$prefix/bin/quillpost" && -x $root$exec ]] ||
        { problem "Exec=$exec is not the installed program $prefix/bin/quillpost"; failed=1; }
    exec=$(desktop_value "$root" "$prefix" "$id" Exec "Desktop Action paste-latest") || true
    [[ $exec == "$prefix/bin/quillpost --paste-latest" ]] ||
        { problem "the paste-latest action's Exec=$exec is not the installed program with --paste-latest"; failed=1; }
    icon=$(desktop_value "$root" "$prefix" "$id" Icon) || true
    [[ $icon == "$id" ]] || { problem "Icon=$icon is not $id"; failed=1; }
    for size in "${icon_sizes[@]}"; do
        local png=$root$prefix/share/icons/hicolor/${size}x$size/apps/$id.png
        [[ $(file -b "$png") == "PNG image data, $size x $size,"* ]] ||
            { problem "$png is not a ${size}×$size PNG: $(file -b "$png")"; failed=1; }
    done
    return "$failed"
}
