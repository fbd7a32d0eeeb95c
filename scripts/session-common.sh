# Shared by the private session scripts (headless-session, wayland-session, kwin-session); sourced,
# not run. Provides a throw-away session folder, the bookkeeping that ends only the processes a
# script started (by PID, also when the command fails or the script is interrupted), waits that
# fail fast, and running the command.
#
#   session_begin NAME "$#"  folder $session, traps, and fail() prefixed with NAME; usage
#                            error when the script was given no command
#   session_home             throw-away HOME, XDG dirs and XDG_RUNTIME_DIR under $session
#   session_bus              a private session D-Bus
#   wait_for PID SECONDS CMD...
#   bus_has NAME             whether NAME has an owner on the session bus
#   run_command CMD...       runs the command and exits with its status

session_begin() {
    session_name=$1
    if (($2 == 0)); then
        echo "usage: $0 CMD [ARG...]" >&2
        exit 2
    fi
    session=$(mktemp -d "${TMPDIR:-/tmp}/quillpost-$session_name.XXXXXX")
    started=() # PIDs in start order
    command_pid=
    trap stop_session EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

stop_session() {
    local status=$?
    trap - EXIT INT TERM
    if [[ -n $command_pid ]] && kill -0 "$command_pid" 2>/dev/null; then
        kill -TERM "$command_pid" 2>/dev/null || true
        wait "$command_pid" 2>/dev/null || true
    fi
    local i
    for ((i = ${#started[@]} - 1; i >= 0; i--)); do
        kill -TERM "${started[i]}" 2>/dev/null || true
    done
    for ((i = ${#started[@]} - 1; i >= 0; i--)); do
        # Processes that were not started as children of this shell cannot be waited for; an
        # exited child stays a zombie until the end, which counts as gone.
        for _ in $(seq 100); do
            [[ -e /proc/${started[i]} && $(awk '{print $3}' "/proc/${started[i]}/stat" 2>/dev/null) != Z ]] || break
            sleep 0.02
        done
        kill -KILL "${started[i]}" 2>/dev/null || true
    done
    rm -rf "$session"
    exit "$status"
}

fail() {
    echo "$session_name: $*" >&2
    local log
    for log in "$session"/*.log; do
        [[ -s $log ]] && { echo "--- $(basename "$log")" >&2; tail -n 20 "$log" >&2; }
    done
    exit 1
}

# Waits until a condition, given as a command, holds. Gives up (returns 1) when the process
# that should bring it about has exited, or after `seconds` (a loaded machine can be slow).
wait_for() {
    local pid=$1 seconds=$2
    shift 2
    local deadline=$((SECONDS + seconds))
    while ((SECONDS < deadline)); do
        if "$@" >/dev/null 2>&1; then return 0; fi
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}

bus_has() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" | grep -q 'boolean true'
}

session_home() {
    export HOME=$session/home
    export XDG_RUNTIME_DIR=$session/run
    export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share
    export XDG_CACHE_HOME=$HOME/.cache XDG_STATE_HOME=$HOME/.local/state
    mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER SWAYSOCK
}

# Without a session bus, Qt would start a bus of its own that outlives us. The desktop portal is
# never started on demand on it: Qt 6.8 asks the portal for its version at start, and a real
# portal started that way would hold the name that a test's stand-in portal takes; a session
# that wants the real portal starts it by hand. (The bus looks in XDG_DATA_HOME first.)
session_bus() {
    local output services=$XDG_DATA_HOME/dbus-1/services
    mkdir -p "$services"
    printf '[D-BUS Service]\nName=org.freedesktop.portal.Desktop\nExec=/bin/false\n' \
        >"$services/org.freedesktop.portal.Desktop.service"
    output=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
    DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$output")
    export DBUS_SESSION_BUS_ADDRESS
    started+=("$(sed -n 2p <<<"$output")")
}

run_command() {
    "$@" &
    command_pid=$!
    set +e
    wait "$command_pid"
    local status=$?
    set -e
    command_pid=
    exit "$status"
}
