#!/usr/bin/env bash
# Checks what libvexcomm5 exports: every defined dynamic symbol belongs to namespace vexcomm, and
# the set equals abi/libvexcomm5.symbols, so a symbol lost (an ABI break) or gained by accident
# fails. After an intended change of the public API: scripts/check-exports.sh LIB --update
set -euo pipefail
lib=$1
list="$(cd "$(dirname "$0")/.." && pwd)/abi/libvexcomm5.symbols"
exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort -u)

foreign=$(echo "$exports" | c++filt |
  grep -Ev '^((typeinfo( name)?|vtable|VTT|guard variable|(non-)?virtual thunk) (for|to) )?vexcomm::' || true)
if [[ -n "$foreign" ]]; then
  echo "exported symbols outside namespace vexcomm:" >&2
  echo "$foreign" >&2
  exit 1
fi

if [[ "${2:-}" == "--update" ]]; then
  echo "$exports" >"$list"
  echo "wrote $(echo "$exports" | wc -l) symbols to $list"
  exit 0
fi
lost=$(comm -13 <(echo "$exports") "$list")
gained=$(comm -23 <(echo "$exports") "$list")
if [[ -n "$lost" ]]; then
  echo "ABI break: symbols of abi/libvexcomm5.symbols no longer exported:" >&2
  echo "$lost" | c++filt >&2
fi
if [[ -n "$gained" ]]; then
  echo "symbols exported but not in abi/libvexcomm5.symbols (record them with --update):" >&2
  echo "$gained" | c++filt >&2
fi
[[ -z "$lost" && -z "$gained" ]]
echo "$(echo "$exports" | wc -l) exported symbols, all in namespace vexcomm and recorded"
