#!/usr/bin/env bash
# Installs what is needed, builds the command-line host and runs its demo: the reference server
# on loopback with sample data, and the runs a home-banking application makes against it.
# Arguments go to `vexcomm demo` (for example --dir DIR to keep its folders).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target vexcomm
exec build/default/tools/vexcomm/vexcomm demo "$@"
