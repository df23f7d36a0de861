#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs Norvex against the built-in virtual validator (norvex-sim): no hardware needed.
# With a display it opens the main window with every COM entry mapped to the virtual validator;
# without one it runs the headless batch mode: START, a few bills, a diagnostics report.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
if [ ! -f build/CMakeCache.txt ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build -j"$(nproc)" --target norvex norvex-sim

work=$(mktemp -d)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    scenario=scripts/demo-window.scenario
else
    scenario=scripts/demo-batch.scenario
fi
mkfifo "$work/sim.out"
build/bin/norvex-sim --scenario "$scenario" --log "$work/sim.log" >"$work/sim.out" &
sim_pid=$!
read -r device <"$work/sim.out"
echo "Virtual validator on $device (COM 1 to COM 4 all lead there)"
ports=(--port "COM1=$device" --port "COM2=$device" --port "COM3=$device" --port "COM4=$device")

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Press START in the window; bills arrive from the virtual validator every few seconds."
    build/bin/norvex "${ports[@]}"
else
    report="$PWD/build/Tavik_DEMO0001.TXT"
    echo "No display: running the batch mode (START, bills, diagnostics report)."
    build/bin/norvex --batch "${ports[@]}" --com 1 --escrow stack --report "$report" --serial DEMO0001 \
        --parts statistics,sensors,optics --seconds 8
    echo
    echo "Diagnostics report written to $report; its beginning:"
    head -n 40 "$report"
fi
