#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Checks that a Qt Linguist .ts file translates every text of the sources.

lupdate reads the source folders into a copy of the .ts file (the file in
the repository is left alone); the check fails when a source text has no
finished translation, or when a translation's placeholders (%1..%9, %d,
%s, ...), access key (&), shown key (the part after a tab) or number of
lines differ from the source text's. Texts the .ts file holds but the
sources no longer use are listed as a warning.

  check-translations.py --lupdate PATH --include ROOT --ts FILE DIR...  check
  check-translations.py --lupdate PATH --include ROOT --ts FILE --update DIR...
      brings FILE up to date with the sources (new texts come in unfinished)
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

PLACEHOLDER = re.compile(r"%(?:\d|L\d|[-+ 0#]*\d*(?:\.\d+)?(?:l|ll|z)?[dusfgxXc])")


def run_lupdate(lupdate, include, dirs, ts):
    cmd = [lupdate, "-I", include, "-no-obsolete", "-locations", "none",
           "-extensions", "cpp,h", *dirs, "-ts", ts]
    result = subprocess.run(cmd, capture_output=True, text=True)
    output = result.stdout + result.stderr
    if result.returncode != 0:
        sys.stderr.write(output)
        sys.exit("lupdate failed")
    # A class lupdate cannot place gets a context without its namespace,
    # which the program never looks up: its texts would stay untranslated.
    lost = [line for line in output.splitlines() if "Qualifying with unknown" in line]
    if lost:
        sys.stderr.write("\n".join(lost) + "\n")
        sys.exit("lupdate could not place these classes: their texts would not be found")


def messages(ts):
    for context in ET.parse(ts).getroot().iter("context"):
        name = context.findtext("name", "")
        for message in context.iter("message"):
            yield name, message


def access_key(text):
    return re.search(r"&(?!&)\S", text) is not None


def shown_key(text):
    return text.split("\t", 1)[1] if "\t" in text else None


def problems(source, translation):
    found = []
    if sorted(PLACEHOLDER.findall(source)) != sorted(PLACEHOLDER.findall(translation)):
        found.append("placeholders differ")
    if access_key(source) != access_key(translation):
        found.append("access key (&) differs")
    if shown_key(source) != shown_key(translation):
        found.append("shown key (after the tab) differs")
    if source.count("\n") != translation.count("\n"):
        found.append("number of lines differs")
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lupdate", required=True)
    parser.add_argument("--ts", required=True)
    parser.add_argument("--include", required=True, help="the folder #include paths start from")
    parser.add_argument("--update", action="store_true")
    parser.add_argument("dirs", nargs="+")
    args = parser.parse_args()

    if args.update:
        run_lupdate(args.lupdate, args.include, args.dirs, args.ts)
        return 0

    stored = {(c, m.findtext("source")) for c, m in messages(args.ts)}
    with tempfile.TemporaryDirectory() as folder:
        copy = os.path.join(folder, os.path.basename(args.ts))
        shutil.copyfile(args.ts, copy)
        run_lupdate(args.lupdate, args.include, args.dirs, copy)
        failures = []
        seen = set()
        for context, message in messages(copy):
            source = message.findtext("source") or ""
            seen.add((context, source))
            node = message.find("translation")
            text = node.text if node is not None and node.text else ""
            where = f"{context}: {source!r}"
            if node is None or node.get("type") in ("unfinished", "obsolete", "vanished") \
                    or not text:
                failures.append(f"{where}: no English translation")
                continue
            for problem in problems(source, text):
                failures.append(f"{where} -> {text!r}: {problem}")
    for context, source in sorted(stored - seen):
        print(f"warning: {context}: {source!r} is no longer in the sources")
    for failure in failures:
        print(failure)
    if failures:
        print(f"{len(failures)} problem(s); bring the file up to date with\n"
              f"  {sys.argv[0]} --lupdate {args.lupdate} --include {args.include} --ts {args.ts} --update "
              + " ".join(args.dirs) + "\nthen translate the unfinished texts.")
        return 1
    print(f"{len(seen)} texts, every one translated")
    return 0


if __name__ == "__main__":
    sys.exit(main())
