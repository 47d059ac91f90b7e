#!/usr/bin/env python3
"""Mutation sampling: how many small faults in src/ does the test suite catch?

Applies one mutation at a time to a file of src/ IN PLACE (the file is restored after each), so
run it only in a checkout that nobody else edits while it runs (a worktree or clone of its own);
it refuses a tree with uncommitted changes and stops if the tree changes under it.

Per mutant it builds and runs the whole CTest suite in stages, stopping at the first failure:
  layer    the test program of the mutated file's layer (src/quotes/... -> tests/quotes)
  fast     the other fast test programs that link the mutated file
  rest     the rest of CTest: TLS integration, the command-line host, the Python binding, the
           host checks (not the export check: it reads the declared interface, which a mutant
           does not change, and a Debug library exports more)
  package  the install and Debian package checks: minutes each, and CTest lets a running test
           finish after another failed, so they wait until everything else has passed
Each stage builds only its own targets first; a stage whose build fails makes the mutant
unviable. The time-outs come from the unmutated suite, measured once at the start: per test
3x the stage's longest test plus 10 s, per stage 3x the stage plus 30 s. A time-out kills.

Seeded: the same seed, count and tree give the same sample. Examples:
  scripts/mutants.sh --seed 7 --count 100        # a sample of 100 mutants of src/
  scripts/mutants.sh --list --only quotes/        # the sample, nothing changed
  scripts/mutants.sh --sites survivors.txt        # rerun listed mutants (lines path:line:col ...)
"""
import argparse
import os
import pathlib
import random
import re
import signal
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent

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
STAGES = ("layer", "fast", "rest", "package")


def masked(line):
    """The line with the insides of string and character literals and a trailing comment
    replaced by 'x', so that no operator matches there; positions stay those of the line."""
    out, i, quote = list(line), 0, None
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out[i] = "x"
                if i + 1 < len(line):
                    out[i + 1] = "x"
                i += 2
                continue
            if c == quote:
                quote = None
            else:
                out[i] = "x"
        elif c == '"' or (c == "'" and not (i and (line[i - 1].isalnum() or line[i - 1] == "_"))):
            quote = c  # a ' after a digit separates digits
        elif line.startswith("//", i) or line.startswith("/*", i):
            end = line.find("*/", i + 2) if c == "/" and line[i + 1] == "*" else -1
            stop = len(line.rstrip("\n")) if end < 0 else end + 2
            out[i:stop] = "x" * (stop - i)
            i = stop
            continue
        i += 1
    return "".join(out)


def candidates(only):
    sites = []
    for path in sorted((ROOT / "src").rglob("*.cpp")):
        rel = str(path.relative_to(ROOT))
        if only and not re.search(only, rel):
            continue
        lines = path.read_bytes().decode("utf-8").splitlines(keepends=True)
        for number, line in enumerate(lines):
            if SKIP_LINE.match(line):
                continue
            text = masked(line)
            for op_index, (_, pattern, _) in enumerate(OPERATORS):
                for match in pattern.finditer(text):
                    sites.append((path, number, op_index, match.start(), match.end()))
    return sites


def mutate(line, op_index, start, end):
    name, pattern, replacement = OPERATORS[op_index]
    match = pattern.match(masked(line), start)
    if match is None or match.end() != end:
        return None
    if name == "constant + 1":
        new = str(int(match.group(1)) + 1)
    elif name == "negate if":
        condition = line[match.start(1):match.end(1)]
        new = "if (!(" + condition + "))" + line[match.start(2):match.end(2)]
    elif name == "drop statement":
        new = match.group(1) + "(void)0;"
    else:
        new = replacement
    return line[:start] + new + line[end:]


def describe(site):
    path, number, op_index, start, _ = site
    return f"{path.relative_to(ROOT)}:{number + 1}:{start + 1} {OPERATORS[op_index][0]}"


def read_sites(listing, everything):
    """The sites named by lines 'path:line:col ...' (as --list and the survivors print them)."""
    by_place = {}
    for site in everything:
        path, number, _, start, _ = site
        by_place.setdefault((str(path.relative_to(ROOT)), number + 1, start + 1), []).append(site)
    chosen = []
    for raw in pathlib.Path(listing).read_text(encoding="utf-8").splitlines():
        found = re.search(r"(src/\S+?):(\d+):(\d+)(?: ([a-z<>=!+1 ]+?))?(?::|$)", raw)
        if not found:
            continue
        place = (found.group(1), int(found.group(2)), int(found.group(3)))
        matches = [s for s in by_place.get(place, [])
                   if not found.group(4) or OPERATORS[s[2]][0] == found.group(4).strip()]
        if not matches:
            raise SystemExit(f"no mutation site at {raw.strip()}")
        chosen.append(matches[0])
    return chosen


class Sampler:
    def __init__(self, build, jobs):
        self.build = build
        self.jobs = jobs
        self.fast = sorted(d.name for d in (ROOT / "src").iterdir()
                           if d.is_dir() and (ROOT / "tests" / d.name).is_dir())
        # The tests of the last stages, as ctest arguments (the others' are chosen per file).
        packages = "package_example|debian_package"
        self.rest = ["-LE", "^(" + "|".join(self.fast) + ")$", "-E",
                     f"^(library_exports|{packages})$"]
        self.package = ["-R", f"^({packages})$"]
        self.limits = {}  # stage or fast label -> (seconds for the group, longest test)
        self.linked = {}  # source path -> the fast test programs that link it

    def run(self, cmd, timeout):
        """Return code, output and seconds; on a time-out the whole process group is killed."""
        started = time.monotonic()
        proc = subprocess.Popen(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                text=True, start_new_session=True)
        try:
            out, _ = proc.communicate(timeout=timeout)
            code = proc.returncode
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            out, _ = proc.communicate()
            code = None
        except BaseException:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.communicate()
            raise
        return code, out or "", time.monotonic() - started

    def compile(self, targets, timeout=1800):
        cmd = ["cmake", "--build", str(self.build), "-j", str(self.jobs)]
        if targets:
            cmd += ["--target", *targets]
        return self.run(cmd, timeout)

    def ctest(self, selection, test_timeout, timeout):
        cmd = ["ctest", "--test-dir", str(self.build), "-j", str(self.jobs), "--no-tests=error",
               "--stop-on-failure", "--timeout", str(int(test_timeout)), *selection]
        return self.run(cmd, timeout)

    def configure(self):
        # The ci preset's tests in a Debug build of its own; no benchmarks (they have no tests),
        # and warnings stay warnings so that a mutant that only warns still counts.
        code, out, _ = self.run(["cmake", "--preset", "ci", "-B", str(self.build),
                                 "-DCMAKE_BUILD_TYPE=Debug", "-DVEXCOMM_BUILD_TESTS=ON",
                                 "-DVEXCOMM_BUILD_TOOLS=ON", "-DVEXCOMM_WARNINGS_AS_ERRORS=OFF",
                                 "-DVEXCOMM_BUILD_BENCH=OFF", "-DVEXCOMM_BUILD_FUZZ=OFF",
                                 "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"], None)
        if code != 0:
            raise SystemExit("cmake could not configure " + str(self.build) + "\n" + out)

    def measure(self):
        """Builds the unmutated tree, runs every group of tests once and keeps their times."""
        code, out, seconds = self.compile([], None)
        if code != 0:
            raise SystemExit("the unmutated tree does not build\n" + out[-3000:])
        print(f"built the unmutated tree in {seconds:.0f} s", flush=True)
        groups = [(label, ["-L", f"^{label}$"]) for label in self.fast]
        groups += [("rest", self.rest), ("package", self.package)]
        for name, selection in groups:
            code, out, seconds = self.ctest(selection, 1500, 3000)
            if code != 0:
                raise SystemExit(f"the unmutated tree fails its tests ({name})\n" + out[-3000:])
            times = [float(t) for t in re.findall(r"Passed\s+([\d.]+) sec", out)]
            self.limits[name] = (seconds, max(times, default=seconds))
            print(f"  {name:<11} {len(times):4} tests {seconds:6.1f} s, longest "
                  f"{self.limits[name][1]:5.1f} s", flush=True)
        for label in self.fast:
            code, out, _ = self.run(["ninja", "-C", str(self.build), "-t", "inputs",
                                     f"test_{label}"], 120)
            if code != 0:
                raise SystemExit("ninja cannot list the inputs of test_" + label)
            for entry in out.split():
                if entry.endswith(".cpp"):
                    source = (self.build / entry).resolve()
                    self.linked.setdefault(source, set()).add(label)

    def stages(self, path):
        """(stage, targets to build, ctest selection, per-test time-out, stage time-out)."""
        layer = path.relative_to(ROOT / "src").parts[0]
        linked = self.linked.get(path.resolve(), set())
        plan = []
        if layer in linked:
            plan.append(("layer", [f"test_{layer}"], [layer]))
        others = sorted(linked - {layer})
        if others:
            plan.append(("fast", [f"test_{o}" for o in others], others))
        result = []
        for stage, targets, labels in plan:
            seconds = sum(self.limits[label][0] for label in labels)
            longest = max(self.limits[label][1] for label in labels)
            selection = ["-L", "^(" + "|".join(labels) + ")$"]
            result.append((stage, targets, selection, 3 * longest + 10, 3 * seconds + 30))
        for stage, selection in (("rest", self.rest), ("package", self.package)):
            seconds, longest = self.limits[stage]
            result.append((stage, [], selection, 3 * longest + 10, 3 * seconds + 30))
        return result

    def try_mutant(self, path):
        """(verdict, stage, detail) for the mutant now written to path."""
        for stage, targets, selection, test_timeout, timeout in self.stages(path):
            code, out, _ = self.compile(targets)
            if code != 0:
                error = re.search(r"error: (.*)", out)
                return "unviable", stage, error.group(1)[:100] if error else "build failed"
            code, out, _ = self.ctest(selection, test_timeout, timeout)
            if code is None:
                return "timeout", stage, f"stage over {timeout:.0f} s"
            if code != 0:
                failed = re.findall(r"^\s*\d+ - (.+)$", out.split("tests FAILED:")[-1], re.M)
                if not failed and "No tests were found" in out:
                    failed = ["no tests listed"]
                verdict = "timeout" if failed and failed[0].endswith("(Timeout)") else "killed"
                return verdict, stage, failed[0].split("  #")[0] if failed else f"ctest exit {code}"
        return "SURVIVED", "", ""


def dirty():
    out = subprocess.run(["git", "status", "--porcelain", "--untracked-files=no"], cwd=ROOT,
                         capture_output=True, text=True, check=True).stdout
    return out.strip()


def main():
    parser = argparse.ArgumentParser(prog="scripts/mutants.sh", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=1, help="picks the sample (default 1)")
    parser.add_argument("--count", type=int, default=40, help="mutants in the sample (40)")
    parser.add_argument("--only", metavar="REGEX", help="sample only files whose path matches")
    parser.add_argument("--sites", metavar="FILE",
                        help="run the mutants named in FILE (path:line:col per line) instead")
    parser.add_argument("--build", default="build/mutants", help="its own build folder")
    parser.add_argument("--jobs", type=int, default=2, help="parallel builds and tests (2)")
    parser.add_argument("--list", action="store_true", help="print the sample, change nothing")
    args = parser.parse_args()

    sites = candidates(args.only)
    if args.sites:
        sample = read_sites(args.sites, sites)
    else:
        random.Random(args.seed).shuffle(sites)
        sample = sites[: args.count]
    if args.list:
        for site in sample:
            print(describe(site))
        return 0
    if dirty():
        print("uncommitted changes: the sampler edits src/ in place and runs only on a clean "
              "checkout nobody else edits\n" + dirty(), file=sys.stderr)
        return 2

    # A termination restores the mutated file like an interrupt does.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(129))
    sampler = Sampler(ROOT / args.build, args.jobs)
    sampler.configure()
    sampler.measure()

    results = []  # (site, verdict, stage, seconds, the line after and before)
    started = time.monotonic()
    for index, site in enumerate(sample, 1):
        if dirty():
            print("the tree changed while the sampler ran; stopping\n" + dirty(), file=sys.stderr)
            return 2
        path, number, op_index, start, end = site
        original = path.read_bytes()
        lines = original.decode("utf-8").splitlines(keepends=True)
        original_line = lines[number]
        mutated = mutate(original_line, op_index, start, end)
        begun = time.monotonic()
        if mutated is None or mutated == lines[number]:
            verdict, stage, detail = "unviable", "", "no change"
        else:
            lines[number] = mutated
            try:
                path.write_bytes("".join(lines).encode("utf-8"))
                verdict, stage, detail = sampler.try_mutant(path)
            finally:
                path.write_bytes(original)
        seconds = time.monotonic() - begun
        change = f"{lines[number].strip()}  (was {original_line.strip()})"
        results.append((site, verdict, stage, seconds, change))
        shown = f": {change}" if verdict == "SURVIVED" else f" ({detail})"
        print(f"[{index}/{len(sample)}] {verdict:<8} {stage:<5} {seconds:5.0f} s  "
              f"{describe(site)}{shown}", flush=True)

    viable = [r for r in results if r[1] != "unviable"]
    killed = [r for r in viable if r[1] != "SURVIVED"]
    by_stage = ", ".join(f"{stage} {sum(1 for r in killed if r[2] == stage)}" for stage in STAGES)
    timeouts = sum(1 for r in killed if r[1] == "timeout")
    sampled = f"sites of {args.sites}" if args.sites else f"seed {args.seed}"
    print(f"\n{sampled}, {len(results)} mutants, {len(results) - len(viable)} unviable, "
          f"{len(viable)} viable, {len(killed)} killed ({by_stage}; {timeouts} by time-out): "
          f"kill rate {100.0 * len(killed) / max(len(viable), 1):.1f} %")
    print(f"mean {sum(r[3] for r in viable) / max(len(viable), 1):.0f} s per viable mutant, "
          f"{(time.monotonic() - started) / 60:.1f} min in all")
    for site, verdict, _, _, text in results:
        if verdict == "SURVIVED":
            print(f"  survivor {describe(site)}: {text}")
    if dirty():
        print("the tree is not clean after the run: check git status", file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
