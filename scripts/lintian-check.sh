#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# lintian over a build's .changes (the package, its debug symbols, the build information): passes
# when lintian ran and found no error, no warning and none of the hardening notes that are only
# informational. lintian that did not run or stopped early (missing, a file of the .changes gone,
# "No packages selected") fails too: what it did not look at is not clean.
#
#   bash scripts/lintian-check.sh CHANGES
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: bash scripts/lintian-check.sh CHANGES" >&2; exit 2; }
status=0
# --fail-on none: the tags are judged below, so any other status is lintian's own failure.
out=$(lintian --display-info --fail-on none "$1" 2>&1) || status=$?
[ -z "$out" ] || echo "$out"
if [ "$status" -ne 0 ]; then
    echo "lintian: did not check the package (status $status)" >&2
    exit 1
fi
if grep -E '^(E|W): |^I: .*hardening-' <<<"$out" >/dev/null; then
    echo "lintian: the package is not clean" >&2
    exit 1
fi
echo "lintian: no error, no warning"
