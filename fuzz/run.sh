#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address + undefined sanitizers) and runs each of them
# for SECONDS (default 60), one after the other, from its seed corpus.
#
#   fuzz/run.sh [SECONDS] [TARGET...]      e.g. fuzz/run.sh 600   or   fuzz/run.sh 30 frame_path
#
# Build folder: $VEXCOMM_FUZZ_BUILD (default build/fuzz). New inputs go to <build>/fuzz/corpus/,
# findings to <build>/fuzz/artifacts/<target>/. Exits non-zero when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
build="${VEXCOMM_FUZZ_BUILD:-build/fuzz}"
jobs="${VEXCOMM_JOBS:-2}"

if [[ ! -f "$build/CMakeCache.txt" ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVEXCOMM_BUILD_FUZZ=ON -DVEXCOMM_BUILD_TESTS=OFF -DVEXCOMM_BUILD_TOOLS=OFF \
    -DVEXCOMM_WARNINGS_AS_ERRORS=ON >/dev/null
fi
cmake --build "$build" -j "$jobs" --target vexcomm_fuzzers

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for source in fuzz/*_fuzz.cpp; do
    name="$(basename "$source" _fuzz.cpp)"
    targets+=("$name")
  done
fi

failed=()
for name in "${targets[@]}"; do
  work="$build/fuzz/corpus/$name"
  artifacts="$build/fuzz/artifacts/$name"
  mkdir -p "$work" "$artifacts"
  echo "== fuzz_$name for ${seconds}s"
  if ! "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "fuzz/corpus/$name" \
      2>"$build/fuzz/$name.log"; then
    failed+=("$name")
    tail -40 "$build/fuzz/$name.log"
  fi
  grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)" \
    "$build/fuzz/$name.log" | tr '\n' ' '
  echo
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "findings in: ${failed[*]} (inputs in $build/fuzz/artifacts/)"
  exit 1
fi
echo "no findings in ${#targets[@]} targets"
