#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# scripts/lintian-check.sh against a stand-in lintian that prints what a case gives and ends with
# its status: tags that must fail the package, notes that may pass, and lintian failing to look at
# the package at all, which must never pass as a clean package.
set -euo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/lintian-check.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cat >"$work/bin/lintian" <<'FAKE'
#!/usr/bin/env bash
printf '%b' "$FAKE_LINTIAN_OUT"
exit "$FAKE_LINTIAN_STATUS"
FAKE
chmod +x "$work/bin/lintian"

faults=0
# expected result | lintian's status | lintian's output
while IFS='|' read -r expected status output; do
    [ -n "$expected" ] || continue
    result=pass
    FAKE_LINTIAN_STATUS=$status FAKE_LINTIAN_OUT=$output PATH="$work/bin:$PATH" \
        bash "$script" "$work/x.changes" >/dev/null 2>&1 || result=fail
    if [ "$result" != "$expected" ]; then
        echo "FAIL: lintian status $status, output \"$output\": $result, expected $expected" >&2
        faults=$((faults + 1))
    fi
done <<'CASES'
pass|0|
pass|0|I: norvex: spelling-error-in-binary REcommand Recommend [usr/bin/norvex]\n
pass|0|X: norvex source: very-long-line-length-in-source-file 1116 > 512\n
fail|0|E: norvex: no-copyright-file\n
fail|0|W: norvex: description-synopsis-might-not-be-phrased-properly\n
fail|0|I: norvex: hardening-no-bindnow [usr/bin/norvex]\n
fail|0|I: norvex: spelling-error-in-binary x y\nW: norvex: binary-without-manpage\n
fail|1|Skipping x.changes: ./norvex-dbgsym_2.0_amd64.deb does not exist, exiting\n\nNo packages selected.\n
fail|2|lintian: unknown option\n
fail|1|
CASES

# No lintian at all.
mkdir "$work/empty"
ln -s "$(command -v bash)" "$work/empty/bash"
if PATH="$work/empty" "$work/empty/bash" "$script" "$work/x.changes" >/dev/null 2>&1; then
    echo "FAIL: without lintian the package passed" >&2
    faults=$((faults + 1))
fi
[ "$faults" -eq 0 ] || exit 1
echo "lintian-check: every case judged as expected"
