#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs them all, then prints the table of results: each
# figure is the median of REPS repetitions, set against its floor measured in the same run.
#
#   bench/run.sh            (REPS=5; VEXCOMM_BENCH_BUILD=build/bench; VEXCOMM_JOBS=2)
#
# The raw Google Benchmark output is kept in <build>/results/*.json, the table in
# <build>/results/table.md.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${VEXCOMM_BENCH_BUILD:-build/bench}"
reps="${REPS:-5}"
jobs="${VEXCOMM_JOBS:-2}"

if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEXCOMM_BUILD_BENCH=ON \
    -DVEXCOMM_BUILD_TESTS=OFF -DVEXCOMM_BUILD_TOOLS=ON >/dev/null
fi
programs=(bench_transfer bench_startup bench_idle bench_host_events bench_memory bench_quotes bench_quote_views bench_frame bench_deposits)
cmake --build "$build" -j "$jobs" --target "${programs[@]}"

results="$build/results"
mkdir -p "$results"
for program in "${programs[@]}"; do
  echo "== $program" >&2
  "$build/bench/$program" --benchmark_repetitions="$reps" \
    --benchmark_report_aggregates_only=true --benchmark_out_format=json \
    --benchmark_out="$results/$program.json" >&2
done

python3 - "$results" "$reps" <<'PY'
import json, os, sys

results, reps = sys.argv[1], sys.argv[2]
median = {}
context = {}
for name in sorted(os.listdir(results)):
    if not name.endswith(".json"):
        continue
    with open(os.path.join(results, name)) as f:
        doc = json.load(f)
    context = doc["context"]
    for b in doc["benchmarks"]:
        if b.get("aggregate_name") == "median":
            median[b["run_name"]] = b

def run(prefix):
    for key, b in median.items():
        if key.startswith(prefix):
            return b
    raise SystemExit(f"no result for {prefix}")

def ms(b):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1, "s": 1e3}[b["time_unit"]]
    return b["real_time"] * scale

rows = []
def row(what, value, floor, ratio, goal, limit, unit="ms"):
    met = "yes" if ratio < limit else "no"
    rows.append((what, f"{value:,.1f} {unit}", floor, f"{ratio:.2f}", goal, met))

def others(b):
    return (f"; buffer ready before the clock {b['ready_buffer_s'] * 1e3:,.1f} ms, ratio "
            f"{b['ready_buffer_ratio']:.2f}; TLS reading alone {b['tls_only_s'] * 1e3:,.1f} ms, "
            f"ratio {b['tls_only_ratio']:.2f}; naive client {b['naive_client_s'] * 1e3:,.1f} ms, "
            f"ratio {b['naive_ratio']:.2f}")

b = run("BM_LargeFiles")
row("large files: 4 × 50 MB, Modus 2 over TLS", ms(b),
    f"{b['floor_s'] * 1e3:,.1f} ms plain OpenSSL client into one buffer" + others(b),
    b["ratio"], "< 1.4×", 1.4)
b = run("BM_ManySmallFiles")
row("many small files: 10,000 × 1 KB in one fetch", ms(b),
    f"{b['floor_s'] * 1e3:,.1f} ms the same client" + others(b), b["ratio"], "< 1.5×", 1.5)
b = run("BM_ToolManyFiles")
row("vexcomm get-new: 10,000 × 1 KB saved into a folder (whole process)", ms(b),
    f"{b['library_ms']:,.1f} ms the library's fetch of the same files", b["ratio"], "≤ 2×", 2)
b = run("BM_StartupShortRun")
row("start-up: vexcomm check-new, nothing new, over TLS on loopback (whole process)", ms(b),
    f"{b['client_ms']:,.1f} ms a minimal OpenSSL client: connect, TLS 1.3 with verification, "
    "one request and reply", b["ratio"], "≤ 1.2×", 1.2)
b = run("BM_StartupLocalCommand")
rows.append(("start-up: vexcomm user show (whole process)", f"{ms(b):,.1f} ms",
             f"{b['true_ms']:,.1f} ms /bin/true; a host that only loads the library "
             f"{b['library_ms']:,.1f} ms", f"{b['ratio']:.2f}", "≤ 3 ms",
             "yes" if ms(b) <= 3 else "no"))
for updates, label in (("0", "new rows"), ("1", "updates")):
    c, p = run(f"BM_WriteToDB/updates:{updates}"), run(f"BM_PlainWrite/updates:{updates}")
    row(f"quote database write: 100 × 365 {label} into 10 years", ms(c),
        f"{ms(p):,.1f} ms prepared statements", ms(c) / ms(p), "< 3×", 3)
p = run("BM_PlainSelect")
for mode, label in (("0", "all quotes"), ("1", "last date only")):
    c = run(f"BM_ReadDB/last_date_only:{mode}")
    row(f"quote database read: 100 × 3,650, {label}", ms(c), f"{ms(p):,.1f} ms plain SELECT",
        ms(c) / ms(p), "< 2×", 2)
p = run("BM_PlainFormat")
for name, label in (("BM_Chart", "chart"), ("BM_Export", "export")):
    c = run(name)
    rows.append((f"{label}: 100 × 3,650 quotes", f"{ms(c):,.1f} ms",
                 f"{ms(p):,.1f} ms every value formatted once", f"{ms(c) / ms(p):.1f}", "< 1 s",
                 "yes" if ms(c) < 1000 else "no"))
for name, what in (("BM_HostEventsLargeFile", "one 100 MB file"),
                   ("BM_HostEventsManyFiles", "10,000 files"),
                   ("BM_HostEventsQuoteRun", "quote run writing 100 × 365")):
    b = run(name)
    row(f"host's events: longest gap, {what}", b["longest_gap_ms"], "50 ms",
        b["longest_gap_ms"] / 50, "< 1", 1)
b = run("BM_HostEventsIdle")
rows.append(("host's events: a waiting run with the function installed", f"{b['real_time']:,.0f} ms",
             "zero", f"{b['cpu_pct']:.3f} % of wall", "< 1 %", "yes" if b["cpu_pct"] < 1 else "no"))
b = run("BM_IdleWait")
rows.append(("idle wait: 3 s on a silent server", f"{b['cpu_ms']:.1f} ms CPU in {ms(b):,.0f} ms",
             "zero", f"{b['cpu_pct']:.3f} % of wall", "< 1 %", "yes" if b["cpu_pct"] < 1 else "no"))
b = run("BM_PeakMemory")
row("memory: one 100 MB file received and handed over", b["peak_MB"],
    f"{b['file_MB']:.0f} MB file (process at start: {b['start_MB']:.0f} MB)", b["ratio"], "< 3×", 3,
    unit="MB peak RSS")
b, d, c = (run(f"BM_ToolPeakMemory/{arg}/") for arg in (0, 1, 2))
row("memory: the vexcomm program, 500 server notices of 1 MB", b["peak_MB"],
    f"1 MB notice; the same run with notices of one octet {c['peak_MB']:.1f} MB; ratio is the "
    "peak above that run per largest reply", (b["peak_MB"] - c["peak_MB"]) / b["largest_reply_MB"],
    "< 3×", 3, unit="MB peak RSS")
row("memory: the vexcomm program, a 50 MB overnight-money reply (refused by the 16 MiB limit)",
    d["peak_MB"], "50 MB reply", d["ratio"], "< 3×", 3, unit="MB peak RSS")
b = run("BM_DepositPeakMemory")
row("memory: a host taking a 50 MB overnight-money reply (limit raised) and reading the tree",
    b["peak_MB"], "50 MB reply", b["ratio"], "< 3×", 3, unit="MB peak RSS")
b = run("BM_EmptyElementsPeakMemory")
row("memory: a host taking a 16 MB reply of empty elements (one element per byte)", b["peak_MB"],
    f"{b['reply_MB']:.0f} MB reply", b["ratio"], "< 3×", 3, unit="MB peak RSS")
b = run("BM_TreeBytes")
rows.append(("(extra) heap of a parsed overnight-money tree", f"{b['bytes_per_node']:.0f} B per node",
             "the list's size", f"{b['bytes_per_list_byte']:.2f}", "", ""))
c, p = run("BM_FrameAssembler"), run("BM_CopyFloor")
rows.append(("(extra) frame assembly of a 50 MB frame in 16 KB chunks", f"{ms(c):,.1f} ms",
             f"{ms(p):,.1f} ms appending the chunks", f"{ms(c) / ms(p):.2f}", "", ""))
c = run("BM_FileOctets")
rows.append(("(extra) a 50 MB received file's octets from its text (`DateiOctets`, vexcomm saving)",
             f"{ms(c):,.1f} ms", f"{ms(p):,.1f} ms appending a 50 MB frame's chunks",
             f"{ms(c) / ms(p):.2f}", "", ""))

head = ("what", "component (median)", "floor", "ratio", "goal", "met")
lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
lines += ["| " + " | ".join(r) + " |" for r in rows]
cpus = context.get("num_cpus", "?")
load = context.get("load_avg", [])
lines.append("")
lines.append(f"Median of {reps} repetitions; {cpus} CPUs at {context.get('mhz_per_cpu', '?')} MHz, "
             f"load average at the end {', '.join(f'{x:.1f}' for x in load)}; {context.get('date', '')}.")
table = "\n".join(lines)
print(table)
with open(os.path.join(results, "table.md"), "w") as f:
    f.write(table + "\n")
PY
