#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the pictures that the README, the AppStream metadata and the help show into
# resources/screenshots/: offscreen, from the same data every time (the virtual validator after
# START with a few bills, the bus monitor of that session, a history of six visits, a device tree
# with two adapters). Then checks that the documents show each picture and none is blank.
#
#   bash scripts/screenshots.sh [BUILD]      (default build folder: build/)
#
# The help shows the pictures from the program's resources: the next build of norvex takes the
# new ones in.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bash scripts/install-deps.sh
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)" --target norvex_screenshots
"$build/tests/norvex_screenshots" resources/screenshots
"$build/tests/norvex_screenshots" --docs .
