#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds everything into build/ and runs every test. The service
# history's cases run against SQLite and a PostgreSQL server: the one NORVEX_TEST_PG_URL names,
# else a private one started here (scripts/postgres-test-server.sh) and stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
if [ -z "${NORVEX_TEST_PG_URL:-}" ]; then
    echo "== A private PostgreSQL server for the service history tests =="
    eval "$(bash scripts/postgres-test-server.sh)"
    trap 'eval "$NORVEX_TEST_PG_CTL stop -m fast" >/dev/null 2>&1 || true; rm -rf "$NORVEX_TEST_PG_DIR"' EXIT
fi
# NORVEX_WERROR=ON (as CI sets it) makes compiler warnings errors.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVEX_WERROR="${NORVEX_WERROR:-OFF}"
cmake --build build -j"$(nproc)"
cd build
# The end-to-end tests hold the virtual validator to MDB's real 5 ms: they run on their own, one at
# a time, after the rest, so that no other test takes the processors from them.
ctest --output-on-failure -j2 --timeout 600 -LE e2e
ctest --output-on-failure -j1 --timeout 600 -L e2e
