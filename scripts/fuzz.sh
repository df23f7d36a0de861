#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer) into
# build-fuzz/ (or $NORVEX_FUZZ_BUILD), replays every saved regression input, then runs each target for N seconds
# (first argument, default 60) over its corpus. Fails on any crash, leak, time-out or
# sanitizer report; the input that caused it is left in build-fuzz/fuzz-artifacts/<target>/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# New corpus entries found during the run stay in build-fuzz/fuzz-work/<target>/; the corpus in
# fuzz/corpus/ is only read.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_link_receive fuzz_download fuzz_settings fuzz_report fuzz_config_files
    fuzz_typed_frame fuzz_bus_decoder fuzz_stored_reading)
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: $0 [SECONDS] [TARGET...]" >&2
    exit 2
fi

# Longest input per target: a whole firmware download needs several kilobytes of line script.
declare -A max_len=([fuzz_link_receive]=8192 [fuzz_download]=16384 [fuzz_settings]=256 [fuzz_report]=2048
    [fuzz_config_files]=1024 [fuzz_typed_frame]=128 [fuzz_bus_decoder]=1024 [fuzz_stored_reading]=4096)

bash scripts/install-deps.sh cmake make clang-14 libclang-rt-14-dev

build=${NORVEX_FUZZ_BUILD:-build-fuzz}
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVEX_FUZZ=ON \
    -DNORVEX_WITH_QT=OFF -DNORVEX_BUILD_TESTS=OFF -DNORVEX_BUILD_BENCH=OFF \
    -DNORVEX_WERROR="${NORVEX_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target norvex_fuzzers

# The targets write small files (settings, images); a memory file system keeps them fast.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

failed=()
for t in "${targets[@]}"; do
    bin="$build/fuzz/$t"
    if [ ! -x "$bin" ]; then
        echo "no such fuzz target: $t" >&2
        exit 2
    fi
    artifacts="$build/fuzz-artifacts/$t"
    work="$build/fuzz-work/$t"
    mkdir -p "$artifacts" "$work"
    common=(-rss_limit_mb=2048 -timeout=10 "-max_len=${max_len[$t]:-4096}" "-artifact_prefix=$artifacts/")

    regressions=()
    if [ -d "fuzz/regressions/$t" ]; then
        while IFS= read -r -d '' f; do regressions+=("$f"); done \
            < <(find "fuzz/regressions/$t" -type f ! -name '*.md' -print0 | sort -z)
    fi
    if [ ${#regressions[@]} -gt 0 ]; then
        echo "== $t: ${#regressions[@]} regression inputs"
        if ! "$bin" "${common[@]}" "${regressions[@]}" >"$artifacts/regressions.log" 2>&1; then
            tail -n 40 "$artifacts/regressions.log"
            failed+=("$t (regression input)")
            continue
        fi
    fi

    echo "== $t: ${seconds} s"
    corpora=("$work")
    [ -d "fuzz/corpus/$t" ] && corpora+=("fuzz/corpus/$t")
    [ -d "fuzz/regressions/$t" ] && corpora+=("fuzz/regressions/$t")
    if "$bin" "${common[@]}" -max_total_time="$seconds" -print_final_stats=1 "${corpora[@]}" \
        >"$artifacts/fuzz.log" 2>&1; then
        grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|#[0-9]+ +DONE)' \
            "$artifacts/fuzz.log" || true
    else
        tail -n 60 "$artifacts/fuzz.log"
        echo "reproduce: $bin $(ls -t "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* \
            "$artifacts"/oom-* 2>/dev/null | head -n 1)"
        failed+=("$t")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "FUZZING FAILED: ${failed[*]}" >&2
    exit 1
fi
echo "fuzzing passed: ${targets[*]}"
