#!/usr/bin/env python3
"""Fails when a file under src/ includes a header of a folder that is not below its own.

The folders of src/ are layers; a file includes headers of its own folder and of the layers
below it only (folders on one level do not include each other):

  base <- log, lang <- bus <- devices <- events <- panels, config <- heating
       <- helpers, exports, dialogs, media, admin <- app

A header-only include slips past the linker, so this test reads the #include lines themselves.
Usage: include_direction_test.py REPO_ROOT     check src/
       include_direction_test.py --self-test   check that the checker tells good from bad
"""
import os
import re
import sys
import tempfile

import lint_common

LEVELS = [
    ["base"],
    ["log", "lang"],
    ["bus"],
    ["devices"],
    ["events"],
    ["panels", "config"],
    ["heating"],
    ["helpers", "exports", "dialogs", "media", "admin"],
    ["app"],
]
LEVEL = {folder: n for n, folders in enumerate(LEVELS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/[^"]+"')


def violations(src):
    found = []
    for dirpath, dirnames, filenames in os.walk(src):
        dirnames.sort()
        folder = os.path.relpath(dirpath, src).split(os.sep)[0]
        if folder == ".":
            continue
        for name in sorted(filenames):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(dirpath, name)
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    target = m.group(1)
                    if target == folder or target not in LEVEL:
                        continue
                    if folder not in LEVEL:
                        found.append("%s:%d: folder %s has no layer" % (
                            os.path.relpath(path, src), number, folder))
                    elif LEVEL[target] >= LEVEL[folder]:
                        found.append("%s:%d: %s includes %s (%s)" % (
                            os.path.relpath(path, src), number, folder, target, line.strip()))
    return found


def self_test():
    cases = [
        ("bus", '#include "base/clock.h"\n', 0),
        ("bus", '#include "bus/frame_writer.h"\n', 0),
        ("bus", '#include "app/manager.h"\n', 1),
        ("devices", '#include "events/cycle_state.h"\n', 1),
        ("log", '#include "lang/locale_number.h"\n', 1),
        ("app", '#include "devices/registry.h"\n#include <QString>\n', 0),
        ("base", '  #  include "log/event_log.h"\n', 1),
    ]
    ok = True
    with tempfile.TemporaryDirectory() as tmp:
        for i, (folder, text, expected) in enumerate(cases):
            src = os.path.join(tmp, str(i), "src", folder)
            os.makedirs(src)
            with open(os.path.join(src, "x.cpp"), "w") as f:
                f.write(text)
            got = len(violations(os.path.dirname(src)))
            if got != expected:
                print("self-test case %d: %d violations, expected %d" % (i, got, expected))
                ok = False
    return ok


def check(root):
    return violations(os.path.join(root, "src"))


if __name__ == "__main__":
    sys.exit(lint_common.main(
        __doc__, check, self_test,
        "include direction: every include in src/ points down or stays in its folder",
        "include points up a layer: "))
