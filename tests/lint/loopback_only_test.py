#!/usr/bin/env python3
"""Fails when a file under tests/, fuzz/ or bench/ holds an IPv4 literal outside 127.0.0.0/8.

Tests, fuzz targets and benchmarks talk to loopback only. A literal that is only ever parsed
(a table of strings for a configuration parser, a peer name a test hands to a session) is
allowed when it is marked: either the line holds "parser test string", or it stands between a
line holding "parser test strings: begin" and one holding "parser test strings: end".

Usage: loopback_only_test.py REPO_ROOT     check the tree
       loopback_only_test.py --self-test   check that the checker itself tells good from bad
"""
import os
import re
import sys
import tempfile

import lint_common

FOLDERS = ("tests", "fuzz", "bench")
SUFFIXES = (".cpp", ".h", ".hpp", ".sh", ".py", ".txt", ".cmake", ".cfg", ".json")
# Four dotted numbers not inside a longer dotted run (version strings such as 1.2.3.4.5).
LITERAL = re.compile(r"(?<![\d.])(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})(?![\d.])")
LINE_MARK = "parser test string"
BEGIN_MARK = "parser test strings: begin"
END_MARK = "parser test strings: end"


def offending(path):
    """(line number, literal) of every unmarked literal outside 127.0.0.0/8 in one file."""
    found = []
    in_table = False
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
    except OSError as e:
        return [(0, "unreadable: %s" % e)]
    for number, line in enumerate(lines, 1):
        if BEGIN_MARK in line:
            in_table = True
            continue
        if END_MARK in line:
            in_table = False
            continue
        if in_table or LINE_MARK in line:
            continue
        for m in LITERAL.finditer(line):
            if m.group(1) != "127":
                found.append((number, m.group(0)))
    return found


def check(root):
    problems = []
    for folder in FOLDERS:
        base = os.path.join(root, folder)
        for dirpath, dirnames, filenames in os.walk(base):
            dirnames.sort()
            for name in sorted(filenames):
                if not name.endswith(SUFFIXES) and name != "CMakeLists.txt":
                    continue
                path = os.path.join(dirpath, name)
                for number, literal in offending(path):
                    problems.append("%s:%d: %s" % (os.path.relpath(path, root), number, literal))
    return problems


def self_test():
    # parser test strings: begin
    cases = [
        # (file content, offending literals expected)
        ('connect("127.0.0.1", 9876);\n', 0),
        ('QByteArray cfg = "192.168.1.1\\r\\n";\n', 1),
        ('parse("10.0.0.300");  // ' + LINE_MARK + '\n', 0),
        ("// " + BEGIN_MARK + "\n\"10.1.2.3\",\n\"192.168.0.254\",\n"
         "// " + END_MARK + "\n\"172.16.0.1\"\n", 1),
        ('version = "6.4.2.1.9";\n', 0),
        ('"127.1.2.3" and "8.8.8.8"\n', 1),
    ]
    # parser test strings: end
    with tempfile.TemporaryDirectory() as tmp:
        ok = True
        for i, (content, expected) in enumerate(cases):
            root = os.path.join(tmp, str(i))
            os.makedirs(os.path.join(root, "fuzz"))
            with open(os.path.join(root, "fuzz", "x_fuzz.cpp"), "w") as f:
                f.write(content)
            got = len(check(root))
            if got != expected:
                print("self-test case %d: %d offending literals, expected %d" % (i, got, expected))
                ok = False
    return ok


if __name__ == "__main__":
    sys.exit(lint_common.main(
        __doc__, check, self_test,
        "loopback-only: no address outside 127.0.0.0/8 under %s" % ", ".join(FOLDERS),
        "IPv4 literal outside 127.0.0.0/8 (mark it if it is only parsed): "))
