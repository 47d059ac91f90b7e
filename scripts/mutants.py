#!/usr/bin/env python3
"""Mutation sampling: how many small faults in src/ do the fast tests catch?

Applies one mutation at a time to a copy-free checkout (the file is restored after each), rebuilds
the fast test programs, runs them and counts the mutant killed when any test fails or the run
times out. A mutant that does not compile is unviable and not counted. Seeded: the same seed and
the same tree give the same sample.

  scripts/mutants.sh [--seed N] [--count N] [--build DIR] [--list]
"""
import argparse
import pathlib
import random
import re
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
FAST_TESTS = ["test_platform", "test_automation", "test_config", "test_transport",
              "test_services", "test_quotes", "test_deposits", "test_component"]

# (name, pattern, replacement) applied to one match on one line.
OPERATORS = [
    ("flip <", re.compile(r"(?<=[\w)\]] )<(?= [\w(])"), ">="),
    ("flip >", re.compile(r"(?<=[\w)\]] )>(?= [\w(])"), "<="),
    ("flip <=", re.compile(r"(?<=[\w)\]] )<=(?= [\w(])"), ">"),
    ("flip >=", re.compile(r"(?<=[\w)\]] )>=(?= [\w(])"), "<"),
    ("flip ==", re.compile(r" == "), " != "),
    ("flip !=", re.compile(r" != "), " == "),
    ("and to or", re.compile(r" && "), " || "),
    ("or to and", re.compile(r" \|\| "), " && "),
    ("constant + 1", re.compile(r"(?<![\w.])(\d+)(?![\w.'])"), None),
    ("negate if", re.compile(r"\bif \((.*)\)( \{| return| continue| break|$)"), None),
    ("drop statement", re.compile(r"^(\s+)(?!return\b|case\b|default\b|break\b|continue\b)"
                                  r"([\w:>.\-\[\]()]+(\(.*\)|\s*[+\-*/|&]?=\s*.+|\+\+|--));$"), None),
]

SKIP_LINE = re.compile(r"^\s*(#|//|static_assert|namespace|template|using|\*|/\*)")


def candidates():
    sites = []
    for path in sorted((ROOT / "src").rglob("*.cpp")):
        # The TLS socket is exercised over real TLS by the slow tests, not by the fast ones.
        if "socket" in path.parts:
            continue
        lines = path.read_text(encoding="utf-8").splitlines(keepends=True)
        for number, line in enumerate(lines):
            if SKIP_LINE.match(line) or '"' in line:
                continue
            for op_index, (_, pattern, _) in enumerate(OPERATORS):
                for match in pattern.finditer(line):
                    sites.append((path, number, op_index, match.start(), match.end()))
    return sites


def mutate(line, op_index, start, end):
    name, pattern, replacement = OPERATORS[op_index]
    match = pattern.match(line, start)
    if match is None or match.end() != end:
        return None
    if name == "constant + 1":
        new = str(int(match.group(1)) + 1)
    elif name == "negate if":
        new = "if (!(" + match.group(1) + "))" + match.group(2)
    elif name == "drop statement":
        new = match.group(1) + "(void)0;"
    else:
        new = replacement
    return line[:start] + new + line[end:]


def run(cmd, timeout):
    try:
        return subprocess.run(cmd, cwd=ROOT, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=40)
    parser.add_argument("--build", default="build/mutants")
    parser.add_argument("--list", action="store_true", help="print the sample, change nothing")
    args = parser.parse_args()

    sites = candidates()
    random.Random(args.seed).shuffle(sites)
    sample = sites[: args.count]
    if args.list:
        for path, number, op_index, _, _ in sample:
            print(f"{path.relative_to(ROOT)}:{number + 1} {OPERATORS[op_index][0]}")
        return 0

    build = ROOT / args.build
    if not (build / "build.ninja").exists():
        subprocess.run(["cmake", "-S", ".", "-B", str(build), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Debug", "-DVEXCOMM_BUILD_TOOLS=OFF",
                        "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
    build_cmd = ["cmake", "--build", str(build), "--target", *FAST_TESTS]
    if run(build_cmd, 1800) != 0:
        print("the unmutated tree does not build", file=sys.stderr)
        return 2
    test_cmd = ["ctest", "--test-dir", str(build), "-j2", "--stop-on-failure", "-E", "fuzz|library_exports|package"]
    if run(test_cmd, 900) != 0:
        print("the unmutated tree fails its tests", file=sys.stderr)
        return 2

    killed, unviable, survivors = 0, 0, []
    started = time.monotonic()
    for path, number, op_index, start, end in sample:
        original = path.read_text(encoding="utf-8")
        lines = original.splitlines(keepends=True)
        mutated = mutate(lines[number], op_index, start, end)
        where = f"{path.relative_to(ROOT)}:{number + 1} {OPERATORS[op_index][0]}"
        if mutated is None or mutated == lines[number]:
            unviable += 1
            continue
        lines[number] = mutated
        try:
            path.write_text("".join(lines), encoding="utf-8")
            if run(build_cmd, 600) != 0:
                unviable += 1
                print(f"unviable  {where}", flush=True)
                continue
            if run(test_cmd, 300) != 0:
                killed += 1
                print(f"killed    {where}", flush=True)
            else:
                survivors.append((where, mutated.strip()))
                print(f"SURVIVED  {where}: {mutated.strip()}", flush=True)
        finally:
            path.write_text(original, encoding="utf-8")
    viable = len(sample) - unviable
    minutes = (time.monotonic() - started) / 60
    print(f"\nseed {args.seed}, {len(sample)} mutants, {unviable} unviable, {viable} viable, "
          f"{killed} killed: kill rate {100.0 * killed / max(viable, 1):.1f} % "
          f"({minutes:.1f} min)")
    for where, text in survivors:
        print(f"  survivor {where}: {text}")
    # Leave the build matching the restored tree.
    run(build_cmd, 1800)
    return 0


if __name__ == "__main__":
    sys.exit(main())
