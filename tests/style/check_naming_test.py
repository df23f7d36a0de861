#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The naming check reports every line of naming_samples.txt marked "bad" and no other line."""

import os
import sys

sys.dont_write_bytecode = True  # the source tree may be read-only to the test

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "scripts"))
import check_naming  # noqa: E402

sample = os.path.join(here, "naming_samples.txt")
findings = []
check_naming.check_file(sample, findings)
reported = sorted({int(f.split(":")[1]) for f in findings})
with open(sample, encoding="utf-8") as f:
    marked = [i for i, line in enumerate(f, 1) if line.rstrip().endswith("// bad")]
if reported != marked:
    print("reported lines:", reported)
    print("marked lines:  ", marked)
    print("\n".join(findings))
    sys.exit(1)
print(f"{len(marked)} marked lines reported, nothing else")
