#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# House style over the tracked C++ sources: formatting (.clang-format, clang-format 14) and
# names (scripts/check_naming.py, the rules of CONTRIBUTING.md); then the licence header of
# every tracked source (scripts/spdx.sh --check). Reads files only; takes seconds. Exits
# non-zero on the first kind of drift found, listing every drifting file.
set -euo pipefail
cd "$(dirname "$0")/.."

format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ]; then
    bash scripts/install-deps.sh clang-format-14
    format=$(command -v clang-format-14 || command -v clang-format)
fi

mapfile -t sources < <(git ls-files -- '*.h' '*.cpp')

echo "== Formatting: ${#sources[@]} sources against .clang-format =="
if ! "$format" --dry-run -Werror "${sources[@]}"; then
    echo "Formatting drifts; clang-format -i the files above." >&2
    exit 1
fi

echo "== Names: the rules of CONTRIBUTING.md =="
python3 scripts/check_naming.py "${sources[@]}"

echo "== Licence: the SPDX header of every tracked source =="
bash scripts/spdx.sh --check
