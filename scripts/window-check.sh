#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts a norvex program's window on a plain X server (Xvfb, no window manager) and on a
# Wayland compositor running headless (weston's headless back end, no X server beside it) and
# checks that each time the window comes up with its title: on X the server lists a viewable
# window of that name; on Wayland the program names its toplevel and hands the compositor a
# picture for it (WAYLAND_DEBUG shows both requests).
#
#   bash scripts/window-check.sh [NORVEX]     (default: norvex on the PATH)
#
# Needs xvfb, xdotool and weston (Debian packages); the program runs in a scratch home and
# folder, so nothing of the user's is read or written.
set -euo pipefail
norvex=$(realpath "${1:-$(command -v norvex)}")
# The main window's title begins so (the rest names the program's revision).
title="Tavik MDB test program"
# The desktop entry's file name without .desktop (packaging/org.norvex.Norvex.desktop).
desktop_id="org.norvex.Norvex"

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "window check: $*" >&2
    for log in "$work"/*.log; do
        [ -s "$log" ] && { echo "--- $(basename "$log") (last lines):" >&2; tail -n 8 "$log" >&2; }
    done
    exit 1
}
# Waits up to $1 tenths of a second for the command in the remaining arguments to succeed.
wait_for() {
    local n=$1
    shift
    for ((i = 0; i < n; ++i)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}
# Runs the program in its own folder and home, without the caller's display variables.
start_norvex() {
    mkdir -p "$work/home" "$work/run"
    (cd "$work/run" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$work/home" \
        XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" "$@" \
        "$norvex" --no-history) &
    norvex_pid=$!
    pids+=("$norvex_pid")
}
stop_norvex() {
    kill "$norvex_pid" 2>/dev/null || true
    wait "$norvex_pid" 2>/dev/null || true
}

start=$(date +%s%N)

# --- X11: the xcb platform plugin ---------------------------------------------------------------
# Xvfb picks a display nobody uses and tells its number.
Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp 4>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 100 test -s "$work/display" || fail "Xvfb did not start"
display=":$(head -n 1 "$work/display")"
start_norvex DISPLAY="$display" QT_QPA_PLATFORM=xcb >"$work/norvex-x11.log" 2>&1
wait_for 150 env DISPLAY="$display" xdotool search --onlyvisible --name "^$title" ||
    fail "no window named \"$title\" on the X server"
stop_norvex
echo "window check: X11 (Xvfb): the window \"$title\" is shown"

# --- Wayland: Qt's wayland platform plugin, against weston running headless ----------------------
export XDG_RUNTIME_DIR="$work/xdg"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
socket=norvex-check
weston --backend=headless-backend.so --socket="$socket" --idle-time=0 --no-config \
    --log="$work/weston.log" >/dev/null 2>&1 &
pids+=($!)
wait_for 150 test -S "$XDG_RUNTIME_DIR/$socket" || fail "weston did not start"
start_norvex WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland WAYLAND_DEBUG=client \
    XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" 2>"$work/norvex-wayland.log" >/dev/null
# The toplevel gets its title and the id of its desktop entry (by which the compositor shows the
# menu's name and icon for it), the compositor's configure is acknowledged and a buffer is attached
# to the surface after it: the window is on the screen.
shown() {
    grep -q "xdg_toplevel@[0-9]*\.set_title(\"$title" "$work/norvex-wayland.log" &&
        grep -q "xdg_toplevel@[0-9]*\.set_app_id(\"$desktop_id\")" "$work/norvex-wayland.log" &&
        sed -n '/xdg_surface@[0-9]*\.ack_configure/,$p' "$work/norvex-wayland.log" |
        grep -q 'wl_surface@[0-9]*\.attach(wl_buffer@'
}
wait_for 150 shown || fail "the window did not show \"$title\" (app id $desktop_id) under weston"
stop_norvex
echo "window check: Wayland (weston, headless): the window \"$title\" is shown"
echo "window check: $((($(date +%s%N) - start) / 1000000)) ms"
