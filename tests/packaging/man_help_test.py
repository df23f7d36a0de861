#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A program's --help and its manual page name the same options and the same exit statuses.

    man_help_test.py PROGRAM MANPAGE [PROGRAM MANPAGE ...]

For each pair: every option that --help lists on a line of its own is a tagged entry of the
manual page; every option --help mentions, the manual page mentions; every tagged option of the
manual page is one --help mentions (the page's examples may show another program's options);
the exit statuses --help gives are those the manual page's EXIT STATUS section gives as entries.
The checker itself is tried first on a pair that differs in each of those ways, so that it
cannot pass by finding nothing.
"""

import os
import re
import subprocess
import sys

OPTION = re.compile(r"(?<![\w-])(--[a-z][a-z0-9-]*|-[a-zA-Z])(?![\w-])")
LONG_OPTION = re.compile(r"(?<![\w-])--[a-z][a-z0-9-]*")
# An option line of a help text: indented, starting with the option ("  -h, --help  ...").
OPTION_LINE = re.compile(r"^\s+((?:-[a-zA-Z],\s+)?--[a-z][a-z0-9-]*)")
# A line of an exit-status list: indented numbers, then at least two spaces ("  130, 143  ...").
STATUS_LINE = re.compile(r"^\s+(\d{1,3}(?:,\s*\d{1,3})*)\s{2,}\S")


def help_facts(text):
    """(listed options, mentioned options, exit statuses) of a --help text."""
    listed, statuses = set(), set()
    for line in text.splitlines():
        m = OPTION_LINE.match(line)
        if m:
            listed.update(OPTION.findall(m.group(1)))
    mentioned = set(LONG_OPTION.findall(text)) | listed
    paragraphs = re.split(r"\n\s*\n", text)
    for paragraph in paragraphs:
        lines = paragraph.splitlines()
        for i, line in enumerate(lines):
            m = re.search(r"exit (?:status(?:es)?|codes?):(.*)", line, re.IGNORECASE)
            if not m:
                continue
            inline = " ".join([m.group(1)] + lines[i + 1:]).strip()
            if m.group(1).strip():
                # "Exit status: 0 printed, 2 unknown unit; 1 cannot be read."
                for clause in re.split(r"[,;]", inline):
                    n = re.match(r"\s*(\d{1,3})\s", clause + " ")
                    if n:
                        statuses.add(int(n.group(1)))
            else:
                for rest in lines[i + 1:]:
                    s = STATUS_LINE.match(rest)
                    if s:
                        statuses.update(int(x) for x in re.findall(r"\d+", s.group(1)))
    return listed, mentioned, statuses


def man_text(line):
    """A roff source line as plain text: escapes and font changes gone."""
    line = line.replace("\\-", "-").replace("\\e", "\\")
    line = re.sub(r"\\f(\[[^\]]*\]|\(..|.)", "", line)
    line = re.sub(r"\\\((..)", "", line)
    line = line.replace("\\ ", " ").replace("\\&", "")
    return line


def man_facts(source):
    """(tagged options, mentioned options, exit statuses) of a manual page's roff source."""
    tagged, statuses = set(), set()
    mentioned = set()
    section = ""
    tag_next = False
    for raw in source.splitlines():
        if raw.startswith('.\\"'):
            continue
        line = man_text(raw)
        if raw.startswith(".SH"):
            section = line[3:].strip().strip('"')
            tag_next = False
            continue
        mentioned.update(LONG_OPTION.findall(line))
        if raw.startswith((".TP", ".TQ")):
            tag_next = True
            continue
        if tag_next:
            tag_next = False
            tagged.update(OPTION.findall(line))
            if section == "EXIT STATUS":
                statuses.update(int(x) for x in re.findall(r"(?<![\w-])\d{1,3}(?![\w-])", line))
    return tagged, mentioned | tagged, statuses


def differences(name, help_text, man_source):
    """What one names and the other does not, as lines of text; empty when they agree."""
    listed, help_mentioned, help_statuses = help_facts(help_text)
    tagged, man_mentioned, man_statuses = man_facts(man_source)
    found = []

    def report(what, items):
        if items:
            found.append(f"{name}: {what}: {' '.join(sorted(str(i) for i in items))}")

    report("--help lists, the manual page has no entry for", listed - tagged)
    report("--help mentions, the manual page does not", help_mentioned - man_mentioned)
    report("the manual page has an entry for, --help does not mention", tagged - help_mentioned)
    report("exit statuses --help gives and the manual page does not", help_statuses - man_statuses)
    report("exit statuses the manual page gives and --help does not", man_statuses - help_statuses)
    return found


def self_test():
    """The checker finds each kind of difference in a pair made to have one of each."""
    help_text = """Usage: demo [--alpha] [--gamma N]

  --alpha        a listed option
  -q, --quiet    another
  --gamma N      listed here only
  Without --delta nothing happens.

  Exit statuses:
    0   fine
    4   only in the help
    130, 143  signals
"""
    man = """.TH DEMO 1
.SH OPTIONS
.TP
.B \\-\\-alpha
Listed.
.TP
.BR \\-q ", " \\-\\-quiet
Quiet.
.TP
.BI \\-\\-beta " N"
Only in the manual page.
.SH EXIT STATUS
.TP
.B 0
Fine.
.TP
.BR 130 ", " 143
Signals.
.TP
.B 9
Only in the manual page.
"""
    found = "\n".join(differences("demo", help_text, man))
    expected = [
        "no entry for: --gamma",
        "does not: --delta --gamma",
        "does not mention: --beta",
        "the manual page does not: 4",
        "--help does not: 9",
    ]
    missing = [e for e in expected if e not in found]
    if missing or len(found.splitlines()) != len(expected):
        print("the checker itself is wrong; it found:\n" + found + "\nexpected:", expected)
        return False
    # And nothing in a pair that agrees.
    agree = differences("demo", help_text.replace("    4   only in the help\n", "")
                        .replace("  --gamma N      listed here only\n", "")
                        .replace("Without --delta", "Without it").replace("[--gamma N]", ""),
                        man.replace(".TP\n.B 9\nOnly in the manual page.\n", "")
                        .replace(".TP\n.BI \\-\\-beta \" N\"\nOnly in the manual page.\n", ""))
    if agree:
        print("the checker found differences in an agreeing pair:\n" + "\n".join(agree))
        return False
    return True


def main(args):
    if not self_test():
        return 1
    if len(args) % 2 != 0 or not args:
        print(__doc__)
        return 2
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    found = []
    for program, page in zip(args[0::2], args[1::2]):
        run = subprocess.run([program, "--help"], capture_output=True, text=True, env=env, timeout=30)
        if run.returncode != 0:
            found.append(f"{program} --help ended with {run.returncode}: {run.stderr.strip()}")
            continue
        with open(page, encoding="utf-8") as f:
            found += differences(os.path.basename(program), run.stdout, f.read())
    if found:
        print("\n".join(found))
        print("Name each option and exit status in both the program's --help and its manual page "
              "(packaging/*.1).")
        return 1
    print(f"{len(args) // 2} programs: --help and the manual page agree")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
