#!/usr/bin/env bash
# Samples small mutations of src/ and reports the share the fast tests kill, with the survivors.
# Seeded and repeatable: bash scripts/mutants.sh --seed 1 --count 40 (about 30 minutes here).
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 scripts/mutants.py "$@"
