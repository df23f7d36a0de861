#!/usr/bin/env bash
# The window ended by SIGTERM, SIGHUP and SIGINT in a real X session, each while a bill is held
# in escrow with the prompt open, run by an ordinary user (nobody, when the test runs as root)
# against the virtual validator at its real 5 ms acknowledge window: REJECT (35 00 35) reaches
# the validator before it sees the port close, the program ends with 128 + the signal's number,
# and the next run opens the port at once.
#
#   real_window_endings.sh NORVEX NORVEX_SIM
#
# Needs Xvfb, openbox, xdotool, wmctrl and setpriv; without them it reports itself skipped (exit 77).
set -u
norvex=$1
sim=$2

for tool in Xvfb openbox xdotool wmctrl setpriv; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool not installed"; exit 77; }
done
# Background jobs run in process groups of their own, with SIGINT as a terminal would leave it.
set -m

work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
log=
fail() { echo "FAIL: $*"; echo "--- validator log (last lines):"; tail -5 "$log" 2>/dev/null; exit 1; }

wait_for() {
    local n=$1
    shift
    for ((i = 0; i < n; ++i)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# The programs run as an ordinary user, in a folder of their own.
user=()
[ "$(id -u)" -eq 0 ] && user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
home="$work/home"
mkdir -m 777 "$home"
as_user() { "${user[@]}" env HOME="$home" XDG_CONFIG_HOME="$home/.config" "$@"; }
# The same in the background, with the program's own process id in $!.
start_as_user() { "${user[@]}" env HOME="$home" XDG_CONFIG_HOME="$home/.config" "$@" & }

Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp 4>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 100 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$work/display")"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
wait_for 100 xdotool getdisplaygeometry || fail "Xvfb did not answer on $DISPLAY"
xvfb=${pids[0]}
# A window manager that could not reach a busy display is started again (three tries).
for try in 1 2 3; do
    openbox >"$work/openbox.log" 2>&1 &
    pids+=($!)
    wait_for 100 wmctrl -m && break
    kill -0 "$xvfb" 2>/dev/null || fail "Xvfb on $DISPLAY ended: $(tail -3 "$work/xvfb.log")"
    [ "$try" -eq 3 ] && fail "openbox did not start on $DISPLAY: $(tail -3 "$work/openbox.log")"
done

cd "$home"
ack_ms=${NORVEX_SIM_ACK_MS:-5}
for sig in TERM HUP INT; do
    log="$home/sim-$sig.jsonl"
    exec 3> >(exec "${user[@]}" "$sim" --ack-timeout-ms "$ack_ms" --log "$log" >"$work/sim-$sig.out" 2>&1)
    simpid=$!
    pids+=($simpid)
    wait_for 50 test -s "$work/sim-$sig.out" || fail "the virtual validator gave no terminal"
    pty=$(head -1 "$work/sim-$sig.out")

    start_as_user "$norvex" --port "COM1=$pty" --no-history >"$work/norvex-$sig.out" 2>&1
    npid=$!
    pids+=($npid)
    wait_for 100 xdotool search --all --pid "$npid" --name "Tavik" || fail "SIG$sig: no main window"
    wid=$(xdotool search --all --pid "$npid" --name "Tavik" | head -1)
    xdotool windowactivate --sync "$wid"
    xdotool key Return
    wait_for 100 grep -q '"frame":"34 ' "$log" || fail "SIG$sig: START did not reach the validator"
    echo "insert 1 escrow" >&3
    wait_for 50 xdotool search --all --pid "$npid" --name "Bill in ESCROW" || fail "SIG$sig: no escrow prompt"
    # At some moment while the bill is held.
    sleep "0.$((RANDOM % 4))"
    kill -s "$sig" "$npid"
    wait_for 60 sh -c "! kill -0 $npid" || fail "SIG$sig: the program did not end"
    wait "$npid"
    status=$?
    [ "$status" -eq $((128 + $(kill -l "$sig"))) ] || fail "SIG$sig: exit status $status: $(cat "$work/norvex-$sig.out")"
    wait_for 30 grep -q '"client_closed"' "$log" || fail "SIG$sig: the validator did not see the port close"
    returned=$(grep -n '"frame":"35 00 35"' "$log" | head -1 | cut -d: -f1)
    closed=$(grep -n '"client_closed"' "$log" | head -1 | cut -d: -f1)
    [ -n "$returned" ] && [ "$returned" -lt "$closed" ] || fail "SIG$sig: no REJECT before the port closed"

    as_user "$norvex" --batch --port "COM1=$pty" --com 1 --poll-ms 50 --seconds 1 --no-history \
        >"$work/next-$sig.out" 2>&1
    status=$?
    [ "$status" -eq 0 ] || fail "SIG$sig: the next run could not use the port ($status): $(cat "$work/next-$sig.out")"

    echo end >&3
    exec 3>&-
    wait "$simpid" 2>/dev/null
done
echo "ok"
