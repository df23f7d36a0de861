#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The licence header of the tracked sources: one line "SPDX-License-Identifier: GPL-3.0-or-later"
# at the top of every C++ source (// form), CMake file, shell and Python script and every other
# file that starts with "#!" (# form). A "#!" line stays first, and so does a Python coding line
# after it.
#
#   bash scripts/spdx.sh           adds the header where it is missing; a second run changes nothing
#   bash scripts/spdx.sh --check   names every source without it and fails if there is one
#
# Sources written before the licence was chosen are listed in scripts/spdx-pending.txt; the check
# lets them pass until the adding run, which gives them the header and removes the list.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly LICENCE="SPDX-License-Identifier: GPL-3.0-or-later"
readonly PENDING=scripts/spdx-pending.txt

mode=add
case "${1:-}" in
"") ;;
--check) mode=check ;;
*)
    echo "usage: bash scripts/spdx.sh [--check]" >&2
    exit 2
    ;;
esac

# The comment mark the header takes in a tracked file; nothing for a file that is no source
# (images, data, the fuzzers' inputs, documents).
comment_mark() {
    case "$1" in
    fuzz/corpus/* | fuzz/regressions/*) ;;
    *.h | *.cpp) echo "//" ;;
    CMakeLists.txt | */CMakeLists.txt | *.cmake | *.sh | *.py) echo "#" ;;
    *) [ "$(head -c2 -- "$1")" != '#!' ] || echo "#" ;;
    esac
}

# Lines that must stay above the header: a "#!" line, and a Python coding line after it.
lines_above() {
    local first second
    first=$(sed -n 1p -- "$1")
    [[ "$first" == '#!'* ]] || { echo 0; return; }
    second=$(sed -n 2p -- "$1")
    if [[ "$second" =~ ^#.*coding[:=] ]]; then echo 2; else echo 1; fi
}

# True when the header is the line right below the ones that stay above it.
has_header() {
    local mark=$1 file=$2 above
    above=$(lines_above "$file")
    [ "$(sed -n "$((above + 1))p" -- "$file")" = "$mark $LICENCE" ]
}

pending=()
[ -f "$PENDING" ] && mapfile -t pending < <(grep -v '^#' "$PENDING")
is_pending() {
    local p
    for p in "${pending[@]}"; do [ "$p" = "$1" ] && return 0; done
    return 1
}

missing=()
added=0
while IFS= read -r -d '' file; do
    [ -f "$file" ] && [ ! -L "$file" ] || continue
    mark=$(comment_mark "$file")
    [ -n "$mark" ] || continue
    has_header "$mark" "$file" && continue
    if [ "$mode" = check ]; then
        is_pending "$file" || missing+=("$file")
        continue
    fi
    above=$(lines_above "$file")
    # Written beside the file and renamed over it: an interrupted run leaves the file whole, and
    # the mode bits (an executable script stays executable) are copied first.
    tmp=$(mktemp "$file.spdx.XXXXXX")
    chmod --reference="$file" "$tmp"
    {
        head -n "$above" -- "$file"
        echo "$mark $LICENCE"
        tail -n +"$((above + 1))" -- "$file"
    } >"$tmp"
    mv -f -- "$tmp" "$file"
    added=$((added + 1))
done < <(git ls-files -z)

if [ "$mode" = check ]; then
    if [ ${#missing[@]} -gt 0 ]; then
        printf '%s\n' "${missing[@]}" >&2
        echo "These sources lack the line \"$LICENCE\" at the top; bash scripts/spdx.sh adds it." >&2
        exit 1
    fi
    exit 0
fi
rm -f "$PENDING"
echo "spdx: the header added to $added sources"
