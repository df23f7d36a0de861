#!/usr/bin/env bash
# Installs what is missing, builds everything into build/ and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# NORVEX_WERROR=ON (as CI sets it) makes compiler warnings errors.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVEX_WERROR="${NORVEX_WERROR:-OFF}"
cmake --build build -j"$(nproc)"
cd build
ctest --output-on-failure -j2 --timeout 600
