#!/usr/bin/env bash
# The program in a real X session against the virtual validator: START by the Enter key, an
# escrowed bill answered with Enter in the prompt (ACCEPT, frame 35 01 36 on the bus), then the
# window closed by the window manager while the link runs: the process must end at once, with
# status 0.
#
#   real_window_smoke.sh NORVEX NORVEX_SIM
#
# Needs Xvfb, openbox, xdotool and wmctrl (Debian packages xvfb, openbox, xdotool, wmctrl);
# without them it reports itself skipped (exit status 77).
set -u
norvex=$1
sim=$2

for tool in Xvfb openbox xdotool wmctrl; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- validator log (last lines):"; tail -5 "$work/sim.jsonl" 2>/dev/null; exit 1; }

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

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
wait_for 50 xdotool getdisplaygeometry || fail "Xvfb did not start"
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for 50 wmctrl -m || fail "openbox did not start"

cd "$work"
exec 3> >(exec "$sim" --log "$work/sim.jsonl" >"$work/sim.out" 2>"$work/sim.err")
pids+=($!)
wait_for 50 test -s "$work/sim.out" || fail "the virtual validator gave no terminal"
pty=$(head -1 "$work/sim.out")

"$norvex" --port "COM1=$pty" >"$work/norvex.out" 2>&1 &
npid=$!
pids+=($npid)
wait_for 100 xdotool search --name "Tavik" || fail "no main window"
wid=$(xdotool search --name "Tavik" | head -1)

xdotool windowactivate --sync "$wid"
xdotool key Return
# The start-up sequence enables the bill types after about 2.5 s.
wait_for 100 grep -q '"34 ' "$work/sim.jsonl" || fail "START did not reach the validator"

echo "insert 1 escrow" >&3
wait_for 50 xdotool search --name "Bill in ESCROW" || fail "no escrow prompt"
prompt=$(xdotool search --name "Bill in ESCROW" | head -1)
xdotool windowactivate --sync "$prompt"
xdotool key Return
wait_for 50 grep -q '"35 01 36"' "$work/sim.jsonl" || fail "ACCEPT did not send ESCROW stack"
wait_for 30 sh -c "! xdotool search --name 'Bill in ESCROW'" || fail "the prompt stayed open"

wmctrl -i -c "$wid"
wait_for 30 sh -c "! kill -0 $npid" || fail "the program did not end when its window was closed"
wait "$npid"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
echo "ok"
