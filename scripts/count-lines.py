#!/usr/bin/env python3
"""Counts the lines of code of the product and of its tests, and their ratio.

A line counts when it is not blank and is not a comment: a line whose first non-blank characters
are "//" or "#" is a comment, except in C and C++ files, where a "#" line is a preprocessor line
and counts as code. Counted files end in .cpp, .h, .c, .py or .sh.

Usage: scripts/count-lines.py [--max-ratio R]
Exits 1 when the ratio test/product is above R."""

import argparse
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PRODUCT = ["core", "file", "archive", "patcher", "tools"]
# Test code that lives outside the test folders: the test command, the fuzz driver, the builder
# of the end-to-end programs.
TEST_FILES = ["scripts/test.sh", "scripts/fuzz.sh", "scripts/e2e-programs.sh"]
C_LIKE = (".cpp", ".h", ".c")
COUNTED = C_LIKE + (".py", ".sh")


def count_file(path):
    c_like = path.endswith(C_LIKE)
    lines = 0
    with open(path, encoding="utf-8", errors="replace") as handle:
        for line in handle:
            text = line.strip()
            if not text or text.startswith("//"):
                continue
            if text.startswith("#") and not c_like:
                continue
            lines += 1
    return lines


def count_tree(folder):
    total = 0
    for parent, dirs, files in os.walk(os.path.join(ROOT, folder)):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        total += sum(count_file(os.path.join(parent, f)) for f in files if f.endswith(COUNTED))
    return total


def test_parts():
    """(name, lines) for each folder under tests/, for fuzz/, then for the test files elsewhere."""
    base = os.path.join(ROOT, "tests")
    parts = [(f"tests/{d}", count_tree(f"tests/{d}")) for d in sorted(os.listdir(base))
             if os.path.isdir(os.path.join(base, d))]
    parts.append(("tests/*", sum(count_file(os.path.join(base, f)) for f in os.listdir(base)
                                 if f.endswith(COUNTED))))
    parts.append(("fuzz", count_tree("fuzz")))
    parts += [(f, count_file(os.path.join(ROOT, f))) for f in TEST_FILES
              if os.path.exists(os.path.join(ROOT, f))]
    return [(name, lines) for name, lines in parts if lines]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--max-ratio", type=float, help="fail when test/product is above this")
    args = parser.parse_args()
    product = [(folder, count_tree(folder)) for folder in PRODUCT]
    product_total = sum(lines for _, lines in product)
    tests = sorted(test_parts(), key=lambda part: -part[1])
    test_total = sum(lines for _, lines in tests)
    print(f"product lines: {product_total:,} (" +
          ", ".join(f"{name} {lines:,}" for name, lines in product) + ")")
    print(f"test lines: {test_total:,}")
    for name, lines in tests:
        print(f"  {name:28} {lines:6,}")
    ratio = test_total / product_total if product_total else 0.0
    print(f"ratio test/product: {ratio:.2f}")
    if args.max_ratio is not None and ratio > args.max_ratio:
        print(f"count-lines: the ratio {ratio:.2f} is above {args.max_ratio:.2f}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
