#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Checks the naming rules of CONTRIBUTING.md over the tracked C++ sources.

Types are plain CamelCase without a C or Q prefix; constants (constexpr variables, const
variables at namespace scope) are SCREAMING_CASE; enumerators of an enum class are CamelCase,
those of a plain enum SCREAMING_CASE; data members that are not public end in an underscore,
public ones and those of a GoogleTest fixture (which test bodies read like local names) do not;
a test source that declares tests is named FooTest.cpp.

It reads the sources line by line with a small brace tracker, no compiler: fast and the same
on every machine. Prints one line per finding, exits 1 if there is any.
Usage: scripts/check_naming.py [FILE...]   (default: every tracked .h/.cpp)
"""

import re
import subprocess
import sys

CAMEL = re.compile(r"^[A-Z]([a-z0-9][A-Za-z0-9]*)?$")
SCREAMING = re.compile(r"^[A-Z][A-Z0-9]*(_[A-Z0-9]+)*$")
PREFIXED = re.compile(r"^(C|Q|Qt)[A-Z][a-z]")
LOWER_CAMEL = re.compile(r"^[a-z][A-Za-z0-9]*$")
MEMBER = re.compile(r"^[a-z][A-Za-z0-9]*_$")

TYPE_DECL = re.compile(r"\b(?:class|struct|union)\s+(?:\[\[[^\]]*\]\]\s*)?([A-Za-z_]\w*)\s*(?:final\s*)?(?::[^;{]*)?$")
ENUM_DECL = re.compile(r"\benum\s+(class\s+|struct\s+)?([A-Za-z_]\w*)?\s*(?::\s*[\w:]+\s*)?$")
ACCESS = re.compile(r"(^|\s)(public|private|protected)\s*$")
NOT_DATA = re.compile(r"^\s*(using|typedef|friend|template|static_assert|enum|class|struct|union|namespace|"
                      r"public|private|protected|return|explicit|virtual|operator)\b")


def strip(text):
    """Removes comments, string and character literals (keeping line breaks)."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append("\n" * text.count("\n", i, j))
            i = j
        elif text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            m = re.match(r'R"([^(]*)\(', text[i:])
            end = text.find(")" + m.group(1) + '"', i) if m else -1
            j = n if end < 0 else end + len(m.group(1)) + 2
            out.append('""' + "\n" * text.count("\n", i, j))
            i = j
        elif c in "\"'" and not (c == "'" and i > 0 and text[i - 1].isdigit()):
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(c + c)
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def declared_names(stmt):
    """Names declared by a data declaration `Type a = 1, b{2}, c[3]`, or [] if it is not one."""
    stmt = re.sub(r"\[\[[^\]]*\]\]", "", stmt).strip()
    if not stmt or NOT_DATA.match(stmt) or stmt.startswith("~"):
        return []
    # Drop initialisers and template arguments so that commas left are declarator separators.
    depth, flat = 0, []
    for ch in stmt:
        if ch in "<({[":
            depth += 1
        elif ch in ">)}]":
            depth -= 1
        elif depth == 0:
            flat.append(ch)
            continue
        if depth == 0:
            flat.append(" ")
    flat = "".join(flat)
    if "(" in stmt.split("=")[0] and not re.search(r"\w\s*\{", stmt.split("(")[0]):
        # A function declaration, unless the parenthesis is inside an initialiser.
        head = stmt.split("=")[0]
        if re.search(r"[A-Za-z_]\w*\s*\(", head):
            return []
    parts = [p.split("=")[0].strip() for p in flat.split(",")]
    names = []
    for k, p in enumerate(parts):
        m = re.search(r"([A-Za-z_]\w*)\s*$", p)
        if not m:
            return []
        if k == 0 and not re.search(r"[\w>*&:]\s+[*&]*\s*[A-Za-z_]\w*\s*$|[*&]\s*[A-Za-z_]\w*\s*$", p):
            return []  # a lone word: not a declaration
        names.append(m.group(1))
    return names


def check_file(path, findings):
    try:
        raw = open(path, encoding="utf-8").read()
    except OSError as e:
        findings.append(f"{path}: cannot read ({e})")
        return
    text = strip(raw)
    base = path.rsplit("/", 1)[-1]
    if path.startswith("tests/") and path.endswith(".cpp") and re.search(r"^\s*(TEST|TEST_F|TEST_P|TYPED_TEST)\s*\(", text, re.M):
        if not base.endswith("Test.cpp"):
            findings.append(f"{path}: a test source is named FooTest.cpp")

    # Scope stack entries: [kind, access, name] with kind in class/struct/enum/enumclass/other.
    stack = []
    stmt = ""
    line_no = 1
    stmt_line = 1

    def report(name, what):
        findings.append(f"{path}:{stmt_line}: {what} '{name}'")

    def finish_statement(s):
        s = " ".join(s.split())
        if not s or s.startswith("#"):
            return
        top = stack[-1] if stack else None
        if top and top[0] in ("enum", "enumclass"):
            return
        in_record = top and top[0] in ("class", "struct")
        if in_record:
            is_const = re.search(r"\bconstexpr\b", s) or re.match(r"^(inline\s+)?static\s+(inline\s+)?const\b", s)
        else:
            is_const = re.search(r"\bconstexpr\b", s) or re.match(r"^(static\s+|inline\s+|extern\s+)*const\b", s)
        names = declared_names(re.sub(r"\b(static|inline|constexpr|extern|mutable|thread_local)\b", "", s))
        if not names:
            return
        if is_const:
            for n in names:
                if not SCREAMING.match(n):
                    report(n, "constant not in SCREAMING_CASE")
            return
        if in_record and not re.search(r"\bstatic\b", s):
            for n in names:
                if top[3]:
                    if not LOWER_CAMEL.match(n):
                        report(n, "member of a test fixture not in camelCase")
                elif top[1] == "public":
                    if not LOWER_CAMEL.match(n):
                        report(n, "public data member not in camelCase")
                elif not MEMBER.match(n):
                    report(n, "non-public data member not in camelCase_")

    def enumerators(body, kind):
        for item in body.split(","):
            m = re.match(r"\s*([A-Za-z_]\w*)", item)
            if not m:
                continue
            n = m.group(1)
            if kind == "enumclass" and not CAMEL.match(n):
                report(n, "enum class enumerator not in CamelCase")
            if kind == "enum" and not SCREAMING.match(n):
                report(n, "enumerator of a plain enum not in SCREAMING_CASE")

    i, n = 0, len(text)
    enum_body = None
    while i < n:
        c = text[i]
        if c == "\n":
            line_no += 1
            if stmt.strip() == "" or stmt.lstrip().startswith("#"):
                if stmt.lstrip().startswith("#") and not stmt.rstrip().endswith("\\"):
                    stmt = ""
        if enum_body is not None:
            if c == "}":
                enumerators(enum_body, stack[-1][0])
                enum_body = None
                stack.pop()
                stmt = ""
            else:
                enum_body += c
            i += 1
            continue
        if c == "{":
            s = " ".join(stmt.split())
            top = stack[-1] if stack else None
            at_decl_scope = not stack or top[0] in ("namespace", "class", "struct")
            m_type = TYPE_DECL.search(s)
            m_enum = ENUM_DECL.search(s)
            if re.search(r"\bnamespace\b[\w:\s]*$", s) or re.search(r'extern\s*""\s*$', s):
                stack.append(["namespace", "public", "", False])
            elif m_enum and at_decl_scope:
                stmt_line = line_no
                if m_enum.group(2) and not CAMEL.match(m_enum.group(2)):
                    report(m_enum.group(2), "type not in CamelCase")
                stack.append(["enumclass" if m_enum.group(1) else "enum", "public", m_enum.group(2) or "", False])
                enum_body = ""
                i += 1
                continue
            elif m_type and at_decl_scope and "(" not in s and "=" not in s:
                name = m_type.group(1)
                stmt_line = line_no
                if not CAMEL.match(name) or PREFIXED.match(name):
                    report(name, "type not in plain CamelCase (no C/Q/Qt prefix)")
                kind = "struct" if re.search(r"\b(struct|union)\s+(?:\[\[[^\]]*\]\]\s*)?" + name, s) else "class"
                fixture = bool(re.search(r"\btesting::(Test|TestWithParam)\b", s))
                stack.append([kind, "public" if kind == "struct" else "private", name, fixture])
            elif at_decl_scope and re.search(r"[A-Za-z_]\w*\s*(\[[^\]]*\])?\s*=?\s*$", s) and "(" not in s \
                    and s.count("=") == (1 if s.endswith("=") else 0) \
                    and not re.search(r"\)\s*(const|noexcept|override|final|\s)*$", s) and s and not s.endswith(":") \
                    and not re.match(r"^(class|struct|enum|union|template|extern)\b", s):
                # A brace initialiser of a declaration: read to the matching brace, keep in statement.
                depth = 0
                j = i
                while j < n:
                    if text[j] == "{":
                        depth += 1
                    elif text[j] == "}":
                        depth -= 1
                        if depth == 0:
                            break
                    elif text[j] == "\n":
                        line_no += 1
                    j += 1
                stmt += text[i:j + 1]
                i = j + 1
                continue
            else:
                stack.append(["other", "", "", False])
            stmt = ""
            stmt_line = line_no
            i += 1
            continue
        if c == "}":
            if stack:
                stack.pop()
            stmt = ""
            i += 1
            continue
        if c == ";":
            top = stack[-1] if stack else None
            if not stack or top[0] in ("namespace", "class", "struct"):
                finish_statement(stmt)
            elif "constexpr" in stmt:
                finish_statement(stmt)
            stmt = ""
            i += 1
            continue
        if c == ":" and stack and stack[-1][0] in ("class", "struct"):
            m = ACCESS.search(stmt)
            if m and not text.startswith("::", i):
                stack[-1][1] = m.group(2)
                stmt = ""
                i += 1
                continue
        if stmt.strip() == "":
            stmt_line = line_no
        stmt += c
        i += 1


def main(argv):
    files = argv[1:]
    if not files:
        out = subprocess.run(["git", "ls-files", "*.h", "*.cpp"], capture_output=True, text=True, check=True).stdout
        files = [f for f in out.split() if not f.startswith(("resources/", "build"))]
    findings = []
    for f in files:
        check_file(f, findings)
    for line in findings:
        print(line)
    if findings:
        print(f"{len(findings)} naming finding(s); the rules are in CONTRIBUTING.md", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
