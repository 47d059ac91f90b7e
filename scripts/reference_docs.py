#!/usr/bin/env python3
"""Reads the reference comments of the public headers, for the Python module's docstrings.

    reference_docs.py --check INCLUDE_DIR        every enum value has its comment (Doxygen's
                                                 own check does not look at enum values)
    reference_docs.py --cpp OUT.h INCLUDE_DIR    the comments as a C++ table for the binding

The headers are the one source: the binding's docstrings are made from them at build time. The
reader knows the shape of our own headers (`///` before a declaration, `///<` behind it), not
C++ at large.
"""

import argparse
import json
import re
import sys
from pathlib import Path

TAGS = {"param": "Args", "tparam": "Template args", "return": "Returns", "throws": "Raises",
        "thread": "Threads", "ownership": "Ownership"}


class Entry:
    def __init__(self, scope, name, kind, doc, line):
        self.scope, self.name, self.kind, self.doc, self.line = scope, name, kind, doc, line


def strip_code(line):
    """The line without its comment and string literals, for counting braces."""
    line = re.sub(r'"(\\.|[^"\\])*"', '""', line)
    line = re.sub(r"'(\\.|[^'\\])*'", "''", line)
    return line.split("//", 1)[0]


def declared_name(text):
    """The name a declaration declares: a class, an enum value, a function or a field."""
    text = strip_code(text).strip()
    if m := re.match(r"(?:template\s*<.*?>\s*)?(?:class|struct)\s+(?:VEXCOMM_EXPORT\s+)?(\w+)", text):
        return m.group(1), "class"
    if m := re.match(r"enum\s+(?:class\s+)?(\w+)", text):
        return m.group(1), "enum"
    if m := re.match(r"using\s+(\w+)\s*=", text):
        return m.group(1), "type"
    if m := re.match(r"using\s+[\w:<>]+::(\w+)\s*;", text):
        return m.group(1), "function"
    if m := re.search(r"operator\s*([^\s(]+)\s*\(", text):
        return "operator" + m.group(1), "function"
    angle = 0
    for i, c in enumerate(text):
        angle += (c == "<") - (c == ">")
        if c == "(" and angle == 0:
            if m := re.search(r"(~?\w+)\s*$", text[:i]):
                return m.group(1), "function"
        if c in "={;" and angle == 0:
            if m := re.search(r"(\w+)\s*$", text[:i]):
                return m.group(1), "variable"
    return None, None


def parameter_names(text):
    """The names of a function declaration's parameters, in order."""
    text = strip_code(text)
    angle, start = 0, None
    for i, c in enumerate(text):
        angle += (c == "<") - (c == ">")
        if c == "(" and angle == 0:
            start = i + 1
            break
    if start is None:
        return []
    names, depth, current = [], 0, ""
    for c in text[start:]:
        if c in "(<{":
            depth += 1
        elif c in ")>}":
            if depth == 0:
                break
            depth -= 1
        if c == "," and depth == 0:
            names.append(current)
            current = ""
        else:
            current += c
    names.append(current)
    found = []
    for param in names:
        param = param.split("=", 1)[0]
        if m := re.search(r"(\w+)\s*$", param):
            if m.group(1) not in ("void", "const"):
                found.append(m.group(1))
    return found


def read_header(path, entries, problems):
    scopes = []  # (kind, name, depth at which it opened)
    depth = 0
    pending = []  # doc lines waiting for their declaration
    declaration = None  # (text, doc, line) of a declaration spanning lines
    last = None  # the last entry, for a `///<` that continues on the next line
    for number, raw in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        line = raw.strip()
        if line.startswith("///<"):
            if last is not None:
                last.doc.append(line[4:].strip())
            continue
        if line.startswith("///"):
            pending.append(line[3:].strip() if not line.startswith("/// ") else line[4:])
            continue
        code = strip_code(raw)
        if scopes and scopes[-1][0] == "body":
            # Inside an inline function's body: nothing is declared here.
            depth += code.count("{") - code.count("}")
            if depth < scopes[-1][2]:
                scopes.pop()
            pending = []
            continue
        if not line or line.startswith("#") or line.startswith("//"):
            if not line:
                pending = pending if pending and pending[0].startswith("@file") else []
            continue
        if pending and pending[0].startswith("@file"):
            pending = []
        text = declaration[0] + " " + line if declaration else line
        doc = declaration[1] if declaration else pending
        start = declaration[2] if declaration else number
        in_enum = scopes and scopes[-1][0] == "enum"
        ends = (";" in code or "{" in code or "}" in code or (in_enum and "," in code)
                or (in_enum and re.match(r"\w+\s*(=.*)?$", code.strip())))
        if text.startswith("template") and not ends:
            declaration = (text, doc, start)
            pending = []
            continue
        if not ends and not text.startswith(("public:", "private:", "protected:")):
            declaration = (text, doc, start)
            pending = []
            continue
        declaration = None
        pending = []
        trailing = raw.split("///<", 1)[1].strip() if "///<" in raw else None
        scope = "::".join(name for kind, name, _ in scopes if kind != "detail")
        last = None
        opens = code.count("{")
        closes = code.count("}")
        if text.startswith("namespace"):
            for name in re.findall(r"\w+", text[len("namespace"):].split("{")[0]):
                scopes.append(("namespace" if name != "detail" else "detail", name, depth + 1))
            depth += opens - closes
            continue
        inside_private = scopes and scopes[-1][0] == "private"
        if in_enum and not text.startswith("}"):
            name = re.match(r"(\w+)", text).group(1)
            entry = Entry(scope, name, "enumvalue", list(doc) + ([trailing] if trailing else []),
                          start)
            entries.append(entry)
            last = entry
        elif not text.startswith(("}", "public:", "private:", "protected:")) and \
                not inside_private and not any(k == "detail" for k, _, _ in scopes):
            name, kind = declared_name(text)
            if kind == "class" and "{" not in code:
                name = None  # a forward declaration
            if name:
                entry = Entry(scope, name, kind, list(doc) + ([trailing] if trailing else []),
                              start)
                entry.params = parameter_names(text) if kind == "function" else None
                entry.bases = re.findall(r"public\s+(?:[\w:]+::)?(\w+)", text.split("{")[0]) \
                    if kind == "class" else []
                entries.append(entry)
                last = entry
                if opens > closes:
                    scopes.append((kind if kind in ("class", "enum") else "body", name,
                                   depth + 1))
                    depth += opens - closes
                    continue
        if text.startswith("private:"):
            scopes.append(("private", "", depth))
        elif text.startswith(("public:", "protected:")) and scopes and scopes[-1][0] == "private":
            scopes.pop()
        depth += opens - closes
        while scopes and (scopes[-1][2] > depth or (scopes[-1][0] == "private"
                                                      and scopes[-1][2] > depth - 1
                                                      and closes > opens)):
            scopes.pop()
    for entry in entries:
        if entry.kind == "enumvalue" and not entry.doc:
            problems.append(f"{path}:{entry.line}: enum value {entry.scope}::{entry.name} "
                            "is not documented")


def read_headers(include_dir):
    entries, problems = [], []
    for path in sorted(Path(include_dir).glob("*.h")):
        read_header(path, entries, problems)
    return entries, problems


def plain_text(lines):
    """Doxygen comment lines as a docstring: paragraphs, then Args/Returns/Raises sections."""
    body, sections, current = [], {}, None
    for line in (line.strip() for line in lines):
        if m := re.match(r"@(\w+)\s*(.*)", line):
            tag, rest = m.groups()
            if tag in ("file", "brief"):
                body.append(rest)
                current = None
                continue
            title = TAGS.get(tag, tag)
            if tag in ("param", "tparam"):
                name, _, rest = rest.partition(" ")
                rest = f"{name}: {rest}"
            sections.setdefault(title, []).append(rest)
            current = sections[title]
        elif current is not None and line:
            current[-1] += " " + line
        elif not line:
            current = None
            body.append("")
        else:
            body.append(line)
    text = re.sub(r"@(?:ref|p|c)\s+", "", "\n".join(body).strip())
    # The one C++ name a Python reader meets under the same name with a dot.
    text = text.replace("vexcomm::Error", "vexcomm.Error")
    paragraphs = [" ".join(p.split("\n")) for p in re.split(r"\n\s*\n", text) if p.strip()]
    out = "\n\n".join(paragraphs)
    for title, items in sections.items():
        items = [re.sub(r"@(?:ref|p|c)\s+", "", i.strip()).replace("vexcomm::Error", "vexcomm.Error")
                 for i in items]
        out += f"\n\n{title}:\n" + "\n".join("    " + i for i in items)
    return out.strip()


def inherited(entries):
    """Each class's members, its bases' members included where it declares none of that name."""
    classes = {}
    for e in entries:
        if e.kind == "class":
            classes.setdefault(e.name, e)
    members = {}
    for e in entries:
        owner = e.scope.rsplit("::", 1)[-1]
        if owner in classes:
            members.setdefault(owner, []).append(e)

    def all_members(name, seen=()):
        own = list(members.get(name, []))
        names = {m.name for m in own}
        for base in getattr(classes.get(name), "bases", []):
            if base in classes and base not in seen:
                own += [m for m in all_members(base, seen + (name,)) if m.name not in names]
        return own
    return classes, {name: all_members(name) for name in classes}


def cpp_string(text):
    return json.dumps(text, ensure_ascii=False)


def write_cpp(out, include_dir, entries):
    classes, members = inherited(entries)
    lines = ["// Made from the comments of the public headers by scripts/reference_docs.py.",
             "#pragma once", ""]
    lines += [f"#include <vexcomm/{p.name}>" for p in sorted(Path(include_dir).glob("*.h"))]
    lines += ["", "namespace reference {", "",
              "// A class's comment (member \"\"), or a member's, with a function's parameters.",
              "struct Doc {", "  const char* cls;", "  const char* member;", "  const char* text;",
              "  const char* parameters;", "};", "", "inline constexpr Doc kDocs[] = {"]
    for name, entry in sorted(classes.items()):
        if entry.doc:
            lines.append(f"    {{{cpp_string(name)}, \"\", {cpp_string(plain_text(entry.doc))}, "
                         "\"\"},")
        for m in members[name]:
            if m.doc and m.kind in ("function", "variable"):
                params = "(" + ", ".join(m.params) + ")" if m.kind == "function" else ""
                lines.append(f"    {{{cpp_string(name)}, {cpp_string(m.name)}, "
                             f"{cpp_string(plain_text(m.doc))}, {cpp_string(params)}}},")
    lines += ["};", "", "// The enumerations of namespace vexcomm, their values from the headers.",
              "struct EnumValue {", "  const char* enumeration;", "  const char* name;",
              "  long long value;", "  const char* text;", "};", "",
              "inline constexpr EnumValue kEnumValues[] = {"]
    enums = {e.name: e for e in entries if e.kind == "enum" and e.scope == "vexcomm"}
    for e in entries:
        if e.kind != "enumvalue" or e.scope.rsplit("::", 1)[0] != "vexcomm":
            continue
        enum = e.scope.rsplit("::", 1)[1]
        if enum not in enums:
            continue
        qualified = f"vexcomm::{enum}::{e.name}"
        lines.append(f"    {{{cpp_string(enum)}, {cpp_string(e.name)}, "
                     f"static_cast<long long>({qualified}), {cpp_string(plain_text(e.doc))}}},")
    lines += ["};", "", "// An enumeration's own comment.", "inline constexpr Doc kEnums[] = {"]
    for name, e in sorted(enums.items()):
        lines.append(f"    {{{cpp_string(name)}, \"\", {cpp_string(plain_text(e.doc))}, \"\"}},")
    lines += ["};", "", "}  // namespace reference", ""]
    text = "\n".join(lines)
    path = Path(out)
    if not path.exists() or path.read_text(encoding="utf-8") != text:
        path.write_text(text, encoding="utf-8")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--cpp", metavar="OUT")
    parser.add_argument("include_dir")
    args = parser.parse_args()
    entries, problems = read_headers(args.include_dir)
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        return 1
    if args.cpp:
        write_cpp(args.cpp, args.include_dir, entries)
    return 0


if __name__ == "__main__":
    sys.exit(main())
