#!/usr/bin/env python3
"""The candidate mutants of the product code (core/, file/, archive/, patcher/, tools/): a
comparison or equality turned, && and || swapped, an integer constant off by one, true and false
swapped, a statement removed. Only code the native build compiles is a candidate: not the
*_win32.cpp files, the headers only they include, or #if _WIN32 and VORN_SMALL_CODE blocks.

Run alone it prints how many candidates of each kind there are."""

import hashlib
import os
import re
import subprocess
from collections import Counter, namedtuple

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PRODUCT = ["core", "file", "archive", "patcher", "tools"]
Mutant = namedtuple("Mutant", "file line col before after kind")

TURNED = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==",
          "&&": "||", "||": "&&"}
KIND = {"<": "relational", ">": "relational", "=": "equality", "!": "equality",
        "&": "logical", "|": "logical"}
OPERATOR = re.compile(r"<<=|>>=|<=>|<<|>>|->|<=|>=|==|!=|&&|\|\||<|>")
NUMBER = re.compile(r"(?<![\w.'])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.'])")
BOOLEAN = re.compile(r"\b(true|false)\b")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
LITERAL = re.compile(r"//[^\n]*|/\*.*?\*/|\"(?:\\.|[^\"\\\n])*\"|'(?:\\.|[^'\\\n])*'", re.S)
NOT_REMOVABLE = re.compile(r"(return\s|case\s|default\b|using\s|typedef\s|static_assert|"
                           r"namespace\s|template\b|class\s|struct\s|enum\s|friend\s|goto\s|"
                           r"\(void\)|[?:~]|.*\(\s*\*\s*\w+\s*\)\s*\()")


def read(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as handle:
        return handle.read()


def native_files(texts):
    """The files the native build compiles: the sources not made for Windows alone, and the
    headers they include, directly or through other headers."""
    native = {f for f in texts if f.endswith(".cpp") and not f.endswith("_win32.cpp")}
    todo = list(native)
    while todo:
        path = todo.pop()
        for name in INCLUDE.findall(texts[path]):
            for found in (os.path.join(os.path.dirname(path), name), name):
                if found in texts and found not in native:
                    native.add(found)
                    todo.append(found)
    return native


def mask(text):
    """The text with comments and the insides of literals blanked; columns and lines stay."""
    def blank(m):
        inside = re.sub(r"[^\n]", " ", m.group())
        return inside if m.group()[0] == "/" else m.group()[0] + inside[1:-1] + m.group()[-1]
    return LITERAL.sub(blank, text)


def code_lines(text):
    """(number, masked line) for each line of code that the native build compiles: no
    preprocessor lines, nothing inside an #if on _WIN32 or VORN_SMALL_CODE (the patcher's)."""
    stack = []  # per open #if: "windows", "native" or "both"
    continued = False
    for number, line in enumerate(mask(text).split("\n"), 1):
        stripped = line.strip()
        if continued or stripped.startswith("#"):
            continued = stripped.endswith("\\")
            directive = stripped.lstrip("# ")
            if directive.startswith("if"):
                negated = directive.startswith("ifndef") or "!" in directive
                windows = re.search(r"\b(_WIN32|VORN_SMALL_CODE)\b", directive)
                stack.append("both" if not windows else "native" if negated else "windows")
            elif directive.startswith(("else", "elif")) and stack:
                stack[-1] = {"windows": "native", "native": "windows"}.get(stack[-1], "both")
            elif directive.startswith("endif") and stack:
                stack.pop()
        elif stripped and "windows" not in stack:
            yield number, line


def removable(text, previous, following):
    """Whether the line holds one whole statement whose removal still compiles: an expression,
    a call, an assignment, delete, break, continue or a bare return, not a declaration."""
    if (not text.endswith(";") or text.count(";") != 1 or "{" in text or "}" in text
            or text.count("(") != text.count(")") or NOT_REMOVABLE.match(text)
            or not previous.rstrip().endswith((";", "{", "}", ":"))
            or text == "break;" and re.match(r"\s*(case\s|default\b)", following)):
        return False  # (a break before a case label stays: the build forbids fall-through)
    head = re.sub(r"\[[^\]]*\]", "", re.split(r"[=({]", text)[0]).rstrip(" +-*/%&|^<>!;")
    return len(head.split()) == 1 or text.startswith("delete ")


def line_mutants(line, previous, following):
    """(column, before, after, kind) for each change this masked line of code offers."""
    if "assert(" in line and "static_assert" not in line or "__attribute__" in line:
        return  # asserts are compiled out of the release build the suites run
    for m in OPERATOR.finditer(line):
        token, after = m.group(), line[m.end():m.end() + 1]
        if token in TURNED and line[m.start() - 1:m.start()] == " " and after in ("", " "):
            yield m.start(), token, TURNED[token], KIND[token[0]]  # binary: spaced both sides
    for m in NUMBER.finditer("" if "static_assert" in line else line):
        digits, suffix = m.groups()
        hexa = digits[:2].lower() == "0x"
        value = int(digits, 16 if hexa else 10)
        new = str(value - 1 if value else 1)
        if hexa:
            new = digits[:2] + format(int(new), "X" if digits[2:].isupper() else "x")
        yield m.start(), digits + suffix, new + suffix, "constant"
    for m in BOOLEAN.finditer(line):
        yield m.start(), m.group(), "false" if m.group() == "true" else "true", "boolean"
    text = line.strip()
    if removable(text, previous, following):
        yield line.index(text), text, "", "statement"


def tracked(*paths):
    """The files git tracks or would track under these paths."""
    return sorted(subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "--", *paths],
                                 cwd=ROOT, capture_output=True, text=True,
                                 check=True).stdout.split())


def collect():
    """Every candidate mutant in the code the native build compiles, sorted, and a fingerprint
    of the product sources."""
    texts = {f: read(f) for f in tracked(*PRODUCT) if f.endswith((".cpp", ".h"))}
    mutants = []
    product = hashlib.sha256()
    for path, text in texts.items():
        product.update(path.encode() + b"\0" + text.encode() + b"\0")
    for path in sorted(native_files(texts)):
        original = texts[path].split("\n")
        lines = list(code_lines(texts[path]))
        for index, (number, line) in enumerate(lines):
            neighbours = [lines[index - 1][1] if index else ";",
                          lines[index + 1][1] if index + 1 < len(lines) else ""]
            for col, before, after, kind in line_mutants(line, *neighbours):
                before = original[number - 1][col:col + len(before)]  # literals unmasked
                mutants.append(Mutant(path, number, col, before, after, kind))
    return sorted(mutants), product.hexdigest()[:12]


def fingerprint(mutants):
    text = "\n".join(f"{m.file}:{m.line}:{m.col}:{m.before}->{m.after}" for m in mutants)
    return hashlib.sha256(text.encode()).hexdigest()[:12]


def change(m):
    """The mutant's line before -> after."""
    line = read(m.file).split("\n")[m.line - 1]
    after = line[:m.col] + m.after + line[m.col + len(m.before):]
    return f"{line.strip()} -> {after.strip() or '(removed)'}"


if __name__ == "__main__":
    found, product = collect()
    print(f"product {product}: {len(found)} candidates", dict(Counter(m.kind for m in found)))
