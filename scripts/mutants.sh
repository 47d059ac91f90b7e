#!/usr/bin/env bash
# Samples small mutations of src/ and reports the share the test suite kills, with the survivors.
# Edits src/ in place: only in a checkout nobody else edits. Seeded and repeatable:
#   bash scripts/mutants.sh --seed 1 --count 40      (--help for the rest)
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 scripts/mutants.py "$@"
