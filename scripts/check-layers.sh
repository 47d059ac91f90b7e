#!/usr/bin/env bash
# A layer of src/ includes only its own headers and those of the layers it links (CMakeLists.txt):
# no "layer/..." header of a layer above it, and no public <vexcomm/...> header that a layer above
# it implements. Lists each include that breaks this and fails.
# Usage: check-layers.sh [SOURCE_DIR]   (default: the src/ beside this script)
set -euo pipefail
src=${1:-$(cd "$(dirname "$0")/../src" && pwd)}

# The layer of each folder: the services, quotes and deposits folders are one.
declare -A layer_of=(
  [platform]=platform [automation]=automation [socket]=socket [config]=config
  [transport]=transport [services]=services [quotes]=services [deposits]=services
  [component]=component)
# What each layer may reach: itself and the layers below it, as linked.
declare -A reaches=(
  [platform]="platform"
  [automation]="automation platform"
  [socket]="socket automation platform"
  [config]="config automation platform"
  [transport]="transport automation platform"
  [services]="services transport config automation platform"
  [component]="component services socket transport config automation platform")
# The layer that implements each public header.
declare -A owner=(
  [export.h]=platform [error.h]=platform [host.h]=platform [text.h]=platform
  [trace.h]=platform [build_config.h]=platform [version_number.h]=platform
  [variant.h]=automation [dispatch.h]=automation
  [socket.h]=socket
  [identity.h]=config
  [cls_fehler.h]=services [outcome.h]=services [operation.h]=services [quotes.h]=services
  [deposits.h]=services [file_replace.h]=platform
  [vexcomm.h]=component [version.h]=component)

status=0
while IFS= read -r -d '' file; do
  folder=${file#"$src"/}
  folder=${folder%%/*}
  layer=${layer_of[$folder]:-}
  if [[ -z $layer ]]; then
    echo "${file#"$src"/}: folder $folder belongs to no layer" >&2
    status=1
    continue
  fi
  while IFS=: read -r line target; do
    case $target in
      '"'*) included=${target#'"'}; included=${layer_of[${included%%/*}]:-} ;;
      '<vexcomm/'*) included=${target#'<vexcomm/'}; included=${owner[${included%'>'}]:-} ;;
    esac
    if [[ -z $included ]]; then
      echo "${file#"$src"/}:$line: $target belongs to no layer" >&2
      status=1
    elif [[ " ${reaches[$layer]} " != *" $included "* ]]; then
      echo "${file#"$src"/}:$line: $layer includes $target of $included, a layer above it" >&2
      status=1
    fi
  done < <(grep -nE '^\s*#\s*include\s+("[a-z_]+/|<vexcomm/)' "$file" |
             sed -E 's/^([0-9]+):\s*#\s*include\s+("[^"]+"|<vexcomm\/[a-z_0-9]+\.h>).*/\1:\2/')
done < <(find "$src" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
exit $status
