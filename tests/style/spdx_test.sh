#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# scripts/spdx.sh in a scratch repository: the header lands at the top of each kind of source (a
# "#!" line and a Python coding line stay above it), nowhere else, once however often the script
# runs; the check fails on a source without it unless the source waits in the pending list.
set -euo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/spdx.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
id="SPDX-License-Identifier: GPL-3.0-or-later"

cd "$work"
git init -q .
mkdir -p scripts src tools fuzz/corpus/t data
cp "$script" scripts/spdx.sh
printf '#pragma once\nint f();\n' >src/A.h
printf '// already\n// %s\nint g();\n' "$id" >src/B.cpp # a header further down is no header
printf 'add_library(a STATIC A.cpp)\n' >src/CMakeLists.txt
printf '#!/usr/bin/env bash\necho hi\n' >tools/run.sh
chmod +x tools/run.sh
printf '#!/usr/bin/env python3\n# -*- coding: utf-8 -*-\n"""Doc."""\n' >tools/gen.py
printf '#!/usr/bin/make -f\n%%:\n\tdh $@\n' >tools/rules
printf '#!not a source, a fuzzer input\n' >fuzz/corpus/t/seed
printf 'plain text\n' >data/notes.txt
printf '// %s\nint h();\n' "$id" >src/C.cpp
git add -A

bash scripts/spdx.sh --check 2>"$work/check.err" && fail "the check passed sources without the header"
for f in src/A.h src/B.cpp src/CMakeLists.txt tools/run.sh tools/gen.py tools/rules; do
    grep -qx "$f" "$work/check.err" || fail "the check did not name $f"
done
for f in src/C.cpp scripts/spdx.sh fuzz/corpus/t/seed data/notes.txt; do
    grep -qx "$f" "$work/check.err" && fail "the check named $f"
done

# Sources in the pending list pass the check; the adding run removes the list.
git ls-files | grep -v -e C.cpp -e spdx.sh >scripts/spdx-pending.txt
bash scripts/spdx.sh --check || fail "the check failed on pending sources"

bash scripts/spdx.sh >/dev/null
[ ! -e scripts/spdx-pending.txt ] || fail "the pending list is still there"
expect() { # FILE LINE-NUMBER TEXT
    [ "$(sed -n "$2p" "$1")" = "$3" ] || fail "$1 line $2: '$(sed -n "$2p" "$1")', expected '$3'"
}
expect src/A.h 1 "// $id"
expect src/A.h 2 "#pragma once"
expect src/B.cpp 1 "// $id"
expect src/CMakeLists.txt 1 "# $id"
expect tools/run.sh 1 '#!/usr/bin/env bash'
expect tools/run.sh 2 "# $id"
expect tools/gen.py 2 '# -*- coding: utf-8 -*-'
expect tools/gen.py 3 "# $id"
expect tools/rules 2 "# $id"
[ -x tools/run.sh ] || fail "the script lost its executable bit"
[ "$(cat fuzz/corpus/t/seed)" = '#!not a source, a fuzzer input' ] || fail "a fuzzer input was changed"
[ "$(cat data/notes.txt)" = 'plain text' ] || fail "a text file was changed"
[ "$(grep -c "$id" src/C.cpp)" = 1 ] || fail "a source that had the header got a second one"

before=$(cat src/*.h src/*.cpp tools/* | md5sum)
bash scripts/spdx.sh >/dev/null
after=$(cat src/*.h src/*.cpp tools/* | md5sum)
[ "$before" = "$after" ] || fail "a second run changed the sources"
bash scripts/spdx.sh --check || fail "the check failed after the adding run"
echo "ok"
