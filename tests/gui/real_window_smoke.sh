#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A display that does not answer ends the program with status 1 and a clear message. Then the
# program in a real X session against the virtual validator: START by the Enter key; the
# bus monitor by its access keys, whole on the screen, with F1 opening the help; a bill going into
# escrow while a frame is typed in the bus monitor's command line (the prompt comes up without
# the keyboard, and the Enter sends the typed frame, not ACCEPT); while that bill is held a
# message box ("Selected Bill Not Enabled"), with the prompt still answering ACCEPT by the
# keyboard (Tab, Enter: frame 35 01 36 on the bus) before the box is answered; the
# dialogs asking the window manager for a close box only; then a second bill held while the
# window manager closes the main window: REJECT (35 00 35) goes out and the process ends at
# once, with status 0. Then SIGTERM, SIGHUP and SIGINT, each ending a run of an ordinary user
# while a bill is held, and a display that goes away under the window (its X server ends): REJECT
# before the validator sees the port close, the status 128 + the signal's number (1 for the
# display), and the next run opens the port at once.
#
#   real_window_smoke.sh NORVEX NORVEX_SIM
#
# With NORVEX_SMOKE_SHOTS=DIR the screen is saved there at each step, for a person to look at.
#
# Needs Xvfb, openbox, xdotool, wmctrl and setpriv (Debian packages xvfb, openbox, xdotool,
# wmctrl, util-linux); without them it reports itself skipped (exit status 77).
set -u
norvex=$1
sim=$2

for tool in Xvfb openbox xdotool wmctrl setpriv; do
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
simlog="$work/sim.jsonl"
fail() { echo "FAIL: $*"; echo "--- validator log (last lines):"; tail -5 "$simlog" 2>/dev/null; exit 1; }

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

# A display that no server answers (a DISPLAY left from an ended ssh -X session, a compositor's
# socket gone): status 1 and what to check, not Qt's abort and its advice to reinstall.
dead=1
while [ -e "/tmp/.X11-unix/X$dead" ]; do dead=$((dead + 1)); done
for platform in "DISPLAY=:$dead" "WAYLAND_DISPLAY=$work/gone QT_QPA_PLATFORM=wayland"; do
    status=0
    # shellcheck disable=SC2086 # the case is two variables or one
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$work" $platform \
        "$norvex" >"$work/dead.out" 2>&1 </dev/null || status=$?
    [ "$status" -eq 1 ] && grep -q "the window cannot open: no display answers" "$work/dead.out" &&
        ! grep -q "Reinstalling" "$work/dead.out" ||
        fail "with $platform: status $status, said: $(cat "$work/dead.out")"
done

# Xvfb picks a display that nobody uses and tells its number: a number of our own choosing could
# be another session's, whose window manager would then keep ours from starting.
Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp 4>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 100 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$work/display")"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
wait_for 100 xdotool getdisplaygeometry || fail "Xvfb did not answer on $DISPLAY"
xvfb=${pids[0]}
# A window manager that could not reach the display is started again (three tries), so that a
# machine too busy to answer at once does not fail the test; what went wrong is shown otherwise.
for try in 1 2 3; do
    openbox >"$work/openbox.log" 2>&1 &
    pids+=($!)
    wait_for 100 wmctrl -m && break
    kill -0 "$xvfb" 2>/dev/null || fail "Xvfb on $DISPLAY ended: $(tail -3 "$work/xvfb.log")"
    [ "$try" -eq 3 ] && fail "openbox did not start on $DISPLAY: $(tail -3 "$work/openbox.log")"
done

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

shot() {
    [ -n "${NORVEX_SMOKE_SHOTS:-}" ] || return 0
    mkdir -p "$NORVEX_SMOKE_SHOTS" && import -window root "$NORVEX_SMOKE_SHOTS/$1.png" 2>/dev/null
}

# A dialog asks for a caption and a close box: no minimise or maximise among the functions and
# decorations of its Motif hints (flags, functions, decorations, ...).
close_box_only() {
    local hints
    hints=$(xprop -id "$1" _MOTIF_WM_HINTS | sed 's/.*= //; s/,//g')
    set -- $hints
    [ $(( $1 & 1 )) -eq 1 ] && [ $(( $2 & 0x18 )) -eq 0 ] && [ $(( $2 & 0x20 )) -ne 0 ] && [ $(( $3 & 0x60 )) -eq 0 ]
}

# The bus monitor by the keyboard (Alt+B, M): placed by the window manager, it is whole on the
# 1024x768 screen, and F1 there opens the help at the monitor's page.
xdotool key alt+b m
wait_for 50 xdotool search --name "^Bus Monitor$" || fail "Alt+B M opened no bus monitor"
monitor=$(xdotool search --name "^Bus Monitor$" | head -1)
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$monitor")"
[ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le 1024 ] && [ $((Y + HEIGHT)) -le 768 ] ||
    fail "the bus monitor is not whole on the screen: ${WIDTH}x${HEIGHT}+${X}+${Y}"
xdotool windowactivate --sync "$monitor"
xdotool key F1
wait_for 50 xdotool search --name "^Norvex Help$" || fail "F1 in the bus monitor opened no help"
shot 0-monitor-and-help
wmctrl -i -c "$(xdotool search --name "^Norvex Help$" | head -1)"
wmctrl -i -c "$monitor"
wait_for 30 sh -c "! xdotool search --name '^Bus Monitor$'" || fail "the bus monitor did not close"
xdotool windowactivate --sync "$wid"

# The technician types STACKER (36) in the bus monitor's command line (Bus > Bus Monitor...) when
# a bill goes into escrow: the prompt comes up, the monitor keeps the keyboard, and the Enter
# sends the typed frame instead of stacking the bill.
xdotool key alt+b m
wait_for 50 xdotool search --name "^Bus Monitor$" || fail "no bus monitor"
monitor=$(xdotool search --name "^Bus Monitor$" | head -1)
xdotool windowactivate --sync "$monitor"
eval "$(xdotool getwindowgeometry --shell "$monitor")"
# The command line is the row above the status line at the bottom of the window.
xdotool mousemove --window "$monitor" $((WIDTH / 2)) $((HEIGHT - 43)) click 1
xdotool type 36
echo "insert 1 escrow" >&3
wait_for 50 xdotool search --name "Bill in ESCROW" || fail "no escrow prompt"
prompt=$(xdotool search --name "Bill in ESCROW" | head -1)
sleep 0.3
shot 0-prompt-over-the-monitor
[ "$(xdotool getactivewindow)" = "$monitor" ] || fail "the escrow prompt took the keyboard from the bus monitor"
xdotool key Return
wait_for 30 grep -q '"frame":"36 36"' "$work/sim.jsonl" || fail "the Enter did not send the typed frame"
sleep 0.3
grep -q '"35 01 36"' "$work/sim.jsonl" && fail "an Enter typed in the bus monitor stacked the bill"
xdotool search --name "Bill in ESCROW" >/dev/null || fail "the prompt went away"
wmctrl -i -c "$monitor"
wait_for 30 sh -c "! xdotool search --name '^Bus Monitor$'" || fail "the bus monitor did not close"
close_box_only "$prompt" || fail "the prompt asks for more than a close box: $(xprop -id "$prompt" _MOTIF_WM_HINTS)"
# The fixed-size main window offers no maximise (Motif function 0x10), nor does the window manager.
main_hints=$(xprop -id "$wid" _MOTIF_WM_HINTS | sed 's/.*= //; s/,//g')
set -- $main_hints
[ $(( $1 & 1 )) -eq 1 ] && [ $(( $2 & 0x10 )) -eq 0 ] || fail "the main window asks for a maximise button: $main_hints"
xprop -id "$wid" _NET_WM_ALLOWED_ACTIONS | grep -q MAXIMIZE && fail "the fixed-size main window can be maximised"

# While the bill is held, a message box: a click disables a bill type, a right click on it says
# "Selected Bill Not Enabled". The bill list's row 1 is 60 pixels into the client area, below the
# menu bar.
eval "$(xdotool getwindowgeometry --shell "$wid")"
menubar=$((HEIGHT - 426))
xdotool mousemove --window "$wid" 60 $((menubar + 60)) click 1
sleep 0.3
xdotool mousemove --window "$wid" 60 $((menubar + 60)) click 3
wait_for 50 xdotool search --name "^Info$" || fail "no message box"
box=$(xdotool search --name "^Info$" | head -1)
close_box_only "$box" || fail "the message box asks for more than a close box"
shot 1-prompt-and-message-box
# The prompt still takes its answer while the box waits for its own: activated, it has no button
# chosen (Enter alone does nothing); Tab picks ACCEPT and Enter presses it.
xdotool windowactivate --sync "$prompt"
xdotool key Return
sleep 0.3
grep -q '"35 01 36"' "$work/sim.jsonl" && fail "Enter answered the prompt before a button was chosen"
xdotool key Tab Return
wait_for 50 grep -q '"35 01 36"' "$work/sim.jsonl" || fail "ACCEPT did not send ESCROW stack while a message box was open"
wait_for 30 sh -c "! xdotool search --name 'Bill in ESCROW'" || fail "the prompt stayed open"
xdotool search --name "^Info$" >/dev/null || fail "the message box went away unanswered"
xdotool windowactivate --sync "$box"
xdotool key Return
wait_for 30 sh -c "! xdotool search --name '^Info$'" || fail "the message box did not close"

# Closing the window while a bill is held returns the bill first.
echo "insert 2 escrow" >&3
wait_for 50 xdotool search --name "Bill in ESCROW" || fail "no escrow prompt for the second bill"
shot 2-second-bill
wmctrl -i -c "$wid"
# The REJECT goes out first: after a frame the worker may still hold while an answer arrives
# (a second at most) and the validator's acknowledge.
wait_for 60 sh -c "! kill -0 $npid" || fail "the program did not end when its window was closed"
wait "$npid"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
wait_for 20 grep -q '"35 00 35"' "$work/sim.jsonl" || fail "closing with a bill held sent no REJECT"

# Each stop signal ends the program as closing the window does. An ordinary user runs it (nobody,
# when the test runs as root), against the validator at its real 5 ms acknowledge window.
user=()
[ "$(id -u)" -eq 0 ] && user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
chmod 755 "$work"
mkdir -m 777 "$work/user"
cd "$work/user"
set -m # background jobs keep SIGINT as a terminal leaves it
# A second display for the last run, whose X server ends under the window.
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display2" >"$work/xvfb2.log" 2>&1 &
xvfb2=$!
pids+=($xvfb2)
wait_for 100 test -s "$work/display2" || fail "the second Xvfb did not start"
display2=":$(head -1 "$work/display2")"
DISPLAY=$display2 openbox >"$work/openbox2.log" 2>&1 &
pids+=($!)
wait_for 100 env DISPLAY="$display2" wmctrl -m || fail "openbox did not start on $display2"
for sig in TERM HUP INT GONE; do
    shown=$DISPLAY
    [ "$sig" = GONE ] && shown=$display2
    simlog="$work/user/sim-$sig.jsonl"
    exec 3> >(exec "${user[@]}" "$sim" --ack-timeout-ms "${NORVEX_SIM_ACK_MS:-5}" --log "$simlog" >"$work/sim-$sig.out")
    pids+=($!)
    wait_for 50 test -s "$work/sim-$sig.out" || fail "SIG$sig: the virtual validator gave no terminal"
    pty=$(head -1 "$work/sim-$sig.out")
    "${user[@]}" env HOME="$work/user" DISPLAY="$shown" "$norvex" --port "COM1=$pty" --no-history >"$work/norvex-$sig.out" 2>&1 &
    npid=$!
    pids+=($npid)
    export DISPLAY=$shown
    wait_for 100 xdotool search --all --pid "$npid" --name "Tavik" || fail "SIG$sig: no main window"
    xdotool windowactivate --sync "$(xdotool search --all --pid "$npid" --name "Tavik" | head -1)"
    xdotool key Return
    wait_for 100 grep -q '"frame":"34 ' "$simlog" || fail "SIG$sig: START did not reach the validator"
    echo "insert 1 escrow" >&3
    wait_for 50 xdotool search --all --pid "$npid" --name "Bill in ESCROW" || fail "SIG$sig: no escrow prompt"
    sleep "0.$((RANDOM % 4))"
    if [ "$sig" = GONE ]; then
        kill "$xvfb2"
        expected=1 # Qt's own status when its display connection breaks
    else
        kill -s "$sig" "$npid"
        expected=$((128 + $(kill -l "$sig")))
    fi
    wait_for 60 sh -c "! kill -0 $npid" || fail "SIG$sig: the program did not end"
    wait "$npid"
    status=$?
    [ "$status" -eq "$expected" ] || fail "SIG$sig: exit status $status: $(tail -3 "$work/norvex-$sig.out")"
    wait_for 30 grep -q '"client_closed"' "$simlog" || fail "SIG$sig: the validator did not see the port close"
    returned=$(grep -n '"frame":"35 00 35"' "$simlog" | head -1 | cut -d: -f1)
    closed=$(grep -n '"client_closed"' "$simlog" | head -1 | cut -d: -f1)
    [ -n "$returned" ] && [ "$returned" -lt "$closed" ] || fail "SIG$sig: no REJECT before the port closed"
    "${user[@]}" "$norvex" --batch --port "COM1=$pty" --com 1 --poll-ms 50 --seconds 1 --no-history \
        >"$work/next-$sig.out" 2>&1 || fail "SIG$sig: the next run could not use the port: $(cat "$work/next-$sig.out")"
done
echo "ok"
