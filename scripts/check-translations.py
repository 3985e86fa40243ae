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
  check-translations.py --lupdate PATH --self-test
      checks the check on a probe with known faults
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


SELF_TEST_SOURCE = """#include <QDialog>
namespace inkbrite {
class CProbe : public QDialog {
  Q_OBJECT
  void Texts();
};
void CProbe::Texts() {
  tr("打开(&O)...\\tCtrl+O");
  tr("共%1个文件");
  tr("关闭(&C)");
  tr("新的文字");
}
}  // namespace inkbrite
"""

SELF_TEST_TS = """<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>inkbrite::CProbe</name>
    <message><source>打开(&amp;O)...	Ctrl+O</source><translation>&amp;Open...	Ctrl+O</translation></message>
    <message><source>共%1个文件</source><translation>files in all</translation></message>
    <message><source>关闭(&amp;C)</source><translation>Close</translation></message>
</context>
</TS>
"""


def self_test(lupdate):
    """The check itself: a probe class whose texts are translated well, with a
    lost placeholder, with a lost access key, and not at all."""
    with tempfile.TemporaryDirectory() as folder:
        os.makedirs(os.path.join(folder, "src"))
        with open(os.path.join(folder, "src", "probe.cpp"), "w", encoding="utf-8") as f:
            f.write(SELF_TEST_SOURCE)
        ts = os.path.join(folder, "probe_en.ts")
        with open(ts, "w", encoding="utf-8") as f:
            f.write(SELF_TEST_TS)
        result = subprocess.run(
            [sys.executable, __file__, "--lupdate", lupdate, "--include", folder, "--ts", ts,
             os.path.join(folder, "src")], capture_output=True, text=True)
    report = result.stdout
    expected = ["'共%1个文件' -> 'files in all': placeholders differ",
                "'关闭(&C)' -> 'Close': access key (&) differs",
                "'新的文字': no English translation",
                "3 problem(s)"]
    missing = [line for line in expected if line not in report]
    if result.returncode != 1 or missing or "打开" in report:
        print(report + result.stderr)
        print("self-test failed; expected lines missing: %s" % missing)
        return 1
    print("self-test passed")
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lupdate", required=True)
    parser.add_argument("--ts")
    parser.add_argument("--include", help="the folder #include paths start from")
    parser.add_argument("--update", action="store_true")
    parser.add_argument("--self-test", action="store_true")
    parser.add_argument("dirs", nargs="*")
    args = parser.parse_args()

    if args.self_test:
        return self_test(args.lupdate)
    if not args.ts or not args.include or not args.dirs:
        parser.error("--ts, --include and the source folders are needed")

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
