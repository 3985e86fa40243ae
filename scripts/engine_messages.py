#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""The engine's message catalogue: translations/engine_en.ts to a C++ table,
and the checks that keep the catalogue and the sources in step.

  engine_messages.py table TS OUT
      writes OUT, the table platform/messages.cpp includes: every finished
      translation as {context, source, english}, sorted by source.
  engine_messages.py check TS ROOT [--lupdate LUPDATE]
      every text marked INKBRITE_TEXT("context", "...") in ROOT's engine
      folders has a finished English translation in TS, with the same
      placeholders (%1..%9, printf's %d %s ..., {name}); TS holds no text
      that is no longer marked; one source has one translation. With
      --lupdate, lupdate (with the INKBRITE_TEXT alias) must find the same
      texts as this scanner.
"""
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from collections import Counter

ENGINE_FOLDERS = ("core", "formats", "sources", "batch", "platform")
LUPDATE_ALIAS = "QT_TRANSLATE_NOOP+=INKBRITE_TEXT"

def read_ts(path):
    """[(context, source, translation or None when unfinished)]"""
    entries = []
    root = ET.parse(path).getroot()
    for context in root.iter("context"):
        name = context.findtext("name") or ""
        for message in context.iter("message"):
            source = message.findtext("source") or ""
            tr = message.find("translation")
            kind = tr.get("type") if tr is not None else "unfinished"
            text = tr.text if tr is not None and tr.text is not None else ""
            if kind in ("obsolete", "vanished"):
                entries.append((name, source, None, kind))
            else:
                entries.append((name, source, None if kind == "unfinished" or not text else text,
                                kind or "finished"))
    return entries

def blank_comments(code):
    """The code with its comments replaced by spaces (strings kept)."""
    out = []
    i, n = 0, len(code)
    while i < n:
        c = code[i]
        if c in "\"'":
            j = i + 1
            while j < n and code[j] != c:
                j += 2 if code[j] == "\\" else 1
            out.append(code[i:j + 1])
            i = j + 1
        elif code.startswith("//", i):
            j = code.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif code.startswith("/*", i):
            j = code.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", code[i:j]))
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)

LITERAL = r'"(?:[^"\\\n]|\\.)*"'
MARK = re.compile(r"\bINKBRITE_TEXT\s*\(\s*(" + LITERAL + r")\s*,\s*((?:" + LITERAL + r"\s*)+)\)")
ESCAPES = {"n": "\n", "t": "\t", "\\": "\\", '"': '"', "'": "'", "r": "\r"}

def unquote(literals):
    text = ""
    for lit in re.findall(LITERAL, literals):
        body = lit[1:-1]
        text += re.sub(r"\\(.)", lambda m: ESCAPES.get(m.group(1), m.group(1)), body)
    return text

def marked_texts(root):
    """{(context, source): first file:line}"""
    found = {}
    for folder in ENGINE_FOLDERS:
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for name in sorted(files):
                if not name.endswith((".cpp", ".h")):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, encoding="utf-8") as f:
                    code = blank_comments(f.read())
                for m in MARK.finditer(code):
                    key = (unquote(m.group(1)), unquote(m.group(2)))
                    line = code.count("\n", 0, m.start()) + 1
                    found.setdefault(key, "%s:%d" % (os.path.relpath(path, root), line))
    return found

PLACEHOLDER = re.compile(r"%[1-9]|%[-+ #0]*[0-9]*(?:\.[0-9]+)?(?:hh|h|ll|l|z|j|t)?[diouxXfFeEgGcsp]|\{[^{}]*\}")

def placeholders(text):
    return Counter(PLACEHOLDER.findall(text))

def c_literal(text):
    out = []
    for ch in text:
        if ch == "\\":
            out.append("\\\\")
        elif ch == '"':
            out.append('\\"')
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\t":
            out.append("\\t")
        elif ch == "?":
            out.append("\\?")  # no trigraphs
        else:
            out.append(ch)
    return '"' + "".join(out) + '"'

def write_table(ts, out):
    rows = {}
    for context, source, english, _ in read_ts(ts):
        if english is not None:
            rows.setdefault(source.encode("utf-8"), (context, source, english))
    lines = ["// Generated from translations/engine_en.ts by scripts/engine_messages.py.",
             "constexpr EngineMessage kEngineMessages[] = {"]
    for key in sorted(rows):
        context, source, english = rows[key]
        lines.append("    {%s, %s, %s}," % (c_literal(context), c_literal(source), c_literal(english)))
    if not rows:
        lines.append('    {"", "", ""},')
    lines.append("};")
    text = "\n".join(lines) + "\n"
    try:
        with open(out, encoding="utf-8") as f:
            if f.read() == text:
                return 0
    except OSError:
        pass
    with open(out, "w", encoding="utf-8") as f:
        f.write(text)
    return 0

def lupdate_texts(lupdate, root):
    with tempfile.TemporaryDirectory() as tmp:
        ts = os.path.join(tmp, "found.ts")
        folders = [os.path.join(root, f) for f in ENGINE_FOLDERS if os.path.isdir(os.path.join(root, f))]
        subprocess.run([lupdate, "-silent", "-locations", "none", "-extensions", "cpp,h",
                        "-tr-function-alias", LUPDATE_ALIAS] + folders + ["-ts", ts],
                       check=True, capture_output=True)
        return {(c, s) for c, s, _, kind in read_ts(ts) if kind not in ("obsolete", "vanished")}

def check(ts, root, lupdate):
    problems = []
    entries = read_ts(ts)
    marked = marked_texts(root)
    if not marked:
        problems.append("no marked text found under %s" % root)
    translated = {}
    for context, source, english, kind in entries:
        if kind in ("obsolete", "vanished"):
            problems.append("%s: %r is marked %s (drop it from the file)" % (context, source, kind))
            continue
        if (context, source) not in marked:
            problems.append("%s: %r is no longer in the sources" % (context, source))
        if english is None:
            problems.append("%s: %r has no English translation" % (context, source))
            continue
        if placeholders(source) != placeholders(english):
            problems.append("%s: placeholders differ: %r has %s, %r has %s" % (
                context, source, sorted(placeholders(source).elements()), english,
                sorted(placeholders(english).elements())))
        if source in translated and translated[source] != english:
            problems.append("%r has two translations: %r and %r" % (source, translated[source], english))
        translated[source] = english
    listed = {(c, s) for c, s, _, _ in entries}
    for (context, source), where in sorted(marked.items()):
        if (context, source) not in listed:
            problems.append("%s: %s %r is not in %s" % (where, context, source, ts))
    if lupdate:
        found = lupdate_texts(lupdate, root)
        for key in sorted(set(marked) - found):
            problems.append("lupdate does not find %s %r (%s)" % (key[0], key[1], marked[key]))
        for key in sorted(found - set(marked)):
            problems.append("lupdate finds %s %r, which this check does not" % key)
    for p in problems:
        print("engine_messages: " + p, file=sys.stderr)
    print("engine_messages: %d marked texts, %d translations, %d problems" % (
        len(marked), len(translated), len(problems)))
    return 1 if problems else 0

def main(argv):
    if len(argv) == 3 and argv[0] == "table":
        return write_table(argv[1], argv[2])
    if len(argv) in (3, 5) and argv[0] == "check":
        lupdate = argv[4] if len(argv) == 5 and argv[3] == "--lupdate" else None
        return check(argv[1], argv[2], lupdate)
    print(__doc__, file=sys.stderr)
    return 2

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
