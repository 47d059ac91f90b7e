#!/usr/bin/env bash
# The programs are hosts of the shared library like any other: each needs libvexcomm5 at run
# time, and no source under tools/ includes the component's internal headers.
# Usage: check-hosts.sh PROGRAM...
set -euo pipefail
tools=$(cd "$(dirname "$0")/../tools" && pwd)
status=0
for program in "$@"; do
  if ! readelf -d "$program" | grep -q 'NEEDED.*\[libvexcomm5\.so\.5\]'; then
    echo "$program does not link libvexcomm5.so.5" >&2
    status=1
  fi
done
internal='#include "(platform|automation|socket|config|transport|services|quotes|deposits|component)/'
if grep -rnE "$internal" "$tools" >&2; then
  echo "internal headers included under tools/ (above): use <vexcomm/...>" >&2
  status=1
fi
exit $status
