#!/usr/bin/env python3
"""Fails when a source file includes from a folder or a library that its folder may not use.

The rules are the "May use" column of the code map in ARCHITECTURE.md, so they are written
down once, where people read them.

  check_layers.py ROOT          check ROOT/src against ROOT/ARCHITECTURE.md
  check_layers.py --self-test   check that a planted violation is caught
"""

import os
import re
import shutil
import sys
import tempfile

# Headers of the libraries a row may name, by the prefix of their include path.
LIBRARIES = {
    "Qt": re.compile(r"^(Q[A-Za-z]+|qt[a-z]*/)"),
    "libcurl": re.compile(r"^curl/"),
    "expat": re.compile(r"^expat"),
    "libsecret": re.compile(r"^libsecret/"),
    "sd-bus": re.compile(r"^systemd/"),
    "SQLite": re.compile(r"^sqlite3"),
    "simdjson": re.compile(r"^simdjson"),
}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
ROW = re.compile(r"^\|\s*`([a-z/]+)`\s*\|[^|]*\|([^|]*)\|\s*$")


def read_rules(architecture):
    rules = {}
    for line in open(architecture, encoding="utf-8"):
        m = ROW.match(line)
        if m:
            uses = [u.strip().strip("`") for u in m.group(2).split(",")]
            rules[m.group(1)] = [u for u in uses if u and u != "nothing"]
    return rules


def folder_of(path, rules):
    """The longest rule folder that contains path (relative to src/)."""
    best = None
    for folder in rules:
        if path.startswith(folder + "/") and (best is None or len(folder) > len(best)):
            best = folder
    return best


def allowed(folder, target, rules):
    for use in [folder] + rules[folder]:
        if use.endswith("/*"):
            if target.startswith(use[:-1]):
                return True
        elif target == use or target.startswith(use + "/"):
            return True
    return False


def check(root):
    rules = read_rules(os.path.join(root, "ARCHITECTURE.md"))
    if not rules:
        return ["ARCHITECTURE.md has no code map"]
    problems = []
    src = os.path.join(root, "src")
    for directory, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith((".cpp", ".hpp", ".h")):
                continue
            path = os.path.relpath(os.path.join(directory, name), src)
            folder = folder_of(path, rules)
            if folder is None:
                problems.append(f"{path}: its folder has no row in the code map")
                continue
            text = open(os.path.join(src, path), encoding="utf-8").read()
            for kind, target in INCLUDE.findall(text):
                if kind == '"':
                    if "/" not in target:
                        continue  # a sibling header
                    target_folder = folder_of(target, rules)
                    if target_folder is None:
                        problems.append(f"{path}: includes {target}, which is in no folder")
                    elif not allowed(folder, target_folder, rules):
                        problems.append(f"{path}: {folder} may not use {target_folder} ({target})")
                    continue
                for library, pattern in LIBRARIES.items():
                    if pattern.match(target) and library not in rules[folder]:
                        problems.append(f"{path}: {folder} may not use {library} (<{target}>)")
    return problems


def self_test(root):
    with tempfile.TemporaryDirectory() as tmp:
        shutil.copy(os.path.join(root, "ARCHITECTURE.md"), tmp)
        common = os.path.join(tmp, "src", "core", "common")
        os.makedirs(common)
        with open(os.path.join(common, "Bad.hpp"), "w") as f:
            f.write('#include "core/service/CaptureController.hpp"\n#include <QObject>\n'
                    '#include <vector>\n#include "Sibling.hpp"\n')
        problems = check(tmp)
    expected = ["core/common/Bad.hpp: core/common may not use core/service "
                "(core/service/CaptureController.hpp)",
                "core/common/Bad.hpp: core/common may not use Qt (<QObject>)"]
    if problems != expected:
        print("the planted violations were not reported as expected:", *problems, sep="\n  ")
        return 1
    return 0


def main():
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if sys.argv[1:] == ["--self-test"]:
        return self_test(here)
    root = sys.argv[1] if len(sys.argv) > 1 else here
    problems = check(root)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
