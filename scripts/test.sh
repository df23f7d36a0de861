#!/usr/bin/env bash
# Installs what is missing, builds everything into build/ and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# NORVEX_WERROR=ON (as CI sets it) makes compiler warnings errors.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVEX_WERROR="${NORVEX_WERROR:-OFF}"
cmake --build build -j"$(nproc)"
cd build
# The end-to-end tests hold the virtual validator to MDB's real 5 ms: they run on their own, one at
# a time, after the rest, so that no other test takes the processors from them.
ctest --output-on-failure -j2 --timeout 600 -LE e2e
ctest --output-on-failure -j1 --timeout 600 -L e2e
