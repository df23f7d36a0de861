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

# The first three lines of the file at hand, read without starting a process per file.
first=""
second=""
third=""
read_head() {
    first=""
    second=""
    third=""
    { IFS= read -r first; IFS= read -r second; IFS= read -r third; } <"$1" || true
}

# The comment mark the header takes in a tracked file (into $mark); empty for a file that is
# no source (images, data, the fuzzers' inputs, documents).
comment_mark() {
    mark=""
    case "$1" in
    fuzz/corpus/* | fuzz/regressions/*) ;;
    *.h | *.cpp) mark="//" ;;
    CMakeLists.txt | */CMakeLists.txt | *.cmake | *.sh | *.py) mark="#" ;;
    *) [[ "$first" != '#!'* ]] || mark="#" ;;
    esac
}

# How many lines stay above the header (into $above): a "#!" line, and a Python coding line
# after it.
lines_above() {
    above=0
    if [[ "$first" == '#!'* ]]; then
        above=1
        [[ ! "$second" =~ ^#.*coding[:=] ]] || above=2
    fi
}

# True when the header is the line right below the ones that stay above it.
has_header() {
    local lines=("$first" "$second" "$third")
    lines_above
    [ "${lines[$above]}" = "$mark $LICENCE" ]
}

declare -A pending=()
if [ -f "$PENDING" ]; then
    while IFS= read -r line; do
        [[ -z "$line" || "$line" == '#'* ]] || pending["$line"]=1
    done <"$PENDING"
fi

missing=()
added=0
while IFS= read -r -d '' file; do
    [ -f "$file" ] && [ ! -L "$file" ] || continue
    case "$file" in fuzz/corpus/* | fuzz/regressions/* | *.png | *.svg) continue ;; esac
    read_head "$file"
    comment_mark "$file"
    [ -n "$mark" ] || continue
    has_header && continue
    if [ "$mode" = check ]; then
        [ -n "${pending[$file]:-}" ] || missing+=("$file")
        continue
    fi
    lines_above
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
