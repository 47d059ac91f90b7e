#!/usr/bin/env python3
"""The hosts under tools/ tell how a run ended by the component's outcome alone.

Fails, naming each line, where a source under tools/ (the reference server aside, whose protocol
texts are its own) decides by what the component showed a person:
  - a count of message boxes, or a comparison of a box's title;
  - a comparison (==, !=, starts_with, find, ...) with one of the component's message texts:
    a string literal that holds a blank or a non-ASCII letter or ends in ":" (a log line's
    head), found under src/ with one of them a prefix of the other (at least 6 characters).
Usage: check-outcome-use.py [SOURCE_DIR]
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parents[1])
LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
_TEXT = r'"((?:[^"\\\n]|\\.)*)"'
# A literal that is an operand of a comparison.
COMPARED = re.compile(r'(?:==|!=)\s*' + _TEXT + r'|' + _TEXT + r'\s*(?:==|!=)|'
                      r'\b(?:starts_with|ends_with|find|rfind|contains|compare|Logged\w*)\s*\(\s*'
                      + _TEXT)
BOXES = re.compile(r'message_boxes|\bboxes\w*\s*(?:\(\))?\s*(?:[!=<>]=|[<>])|\btitle\s*(?:[!=]=|\.)')
MIN = 6


def sources(folder):
    return [p for p in sorted(folder.rglob("*")) if p.suffix in (".cpp", ".h")]


def texts():
    found = set()
    for path in sources(root / "src"):
        for line in path.read_text(encoding="utf-8").splitlines():
            if line.lstrip().startswith("//"):
                continue
            for text in LITERAL.findall(line):
                text = text.strip()
                if len(text) >= MIN and message_like(text):
                    found.add(text)
    return found


def message_like(text):
    return " " in text or text.endswith(":") or any(ord(c) > 127 for c in text)


def matches(text, known):
    return (len(text) >= MIN and message_like(text)
            and any(k.startswith(text) or text.startswith(k) for k in known))


def main():
    known = texts()
    if not known:
        print("no message texts found under " + str(root / "src"), file=sys.stderr)
        return 2
    faults = []
    for path in sources(root / "tools"):
        if "vexmsg-server" in path.parts:
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            code = line.split("//", 1)[0] if not line.lstrip().startswith("//") else ""
            where = f"{path.relative_to(root)}:{number}: {line.strip()}"
            if BOXES.search(code):
                faults.append(where)
            elif any(matches(t.strip(), known)
                     for groups in COMPARED.findall(code) for t in groups if t):
                faults.append(where)
    for fault in faults:
        print(fault, file=sys.stderr)
    if faults:
        print("tools/ decides by message texts or boxes (above): read the run's outcome "
              "(VexComm::Outcome) instead", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
