#!/usr/bin/env bash
# Installs what is needed, builds with warnings as errors and runs the whole test suite.
# With --sanitize the same under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
preset=ci
[[ "${1:-}" == "--sanitize" ]] && preset=sanitize
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
