#!/usr/bin/env bash
# Fetch rate of `vexcomm get-new` into an output folder that already holds many unrelated files:
# the reference server on loopback offers FILES small files, the folder holds CLUTTER others.
#
#   bench/full_folder_fetch.sh [BUILD_DIR]   (default build/ci; FILES=500 CLUTTER=100000)
#
# Prints the seconds the fetch took and the files per second.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/ci}"
files="${FILES:-500}"
clutter="${CLUTTER:-100000}"
vexcomm="$build/tools/vexcomm/vexcomm"
server="$build/tools/vexmsg-server"

work="$(mktemp -d)"
server_pid=""
cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work"/{ini,data,registry,out}

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=vexmsg.test" \
  -addext "subjectAltName=DNS:vexmsg.test" -addext "basicConstraints=critical,CA:TRUE" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
printf '[Comm]\r\nIP = vexmsg.test\r\n' >"$work/ini/MorvaZedi.ini"
python3 - "$files" >"$work/scenario.json" <<'PY'
import json, sys
n = int(sys.argv[1])
files = [{"nr": i, "name": f"datei{i}.txt", "typ": "TXT", "titel": f"Datei {i}",
          "content": "x" * 1000} for i in range(1, n + 1)]
print(json.dumps({"installations": [{"blz": "11122233", "kundennr": "4711", "files": files}]}))
PY
(cd "$work/out" && seq 1 "$clutter" | sed 's/$/-fremd.txt/' | xargs -r touch)

"$server" --cert "$work/cert.pem" --key "$work/key.pem" --scenario "$work/scenario.json" \
  --listen 127.0.0.1:0 --print-port --quiet >"$work/port" &
server_pid=$!
for _ in $(seq 100); do [[ -s "$work/port" ]] && break; sleep 0.1; done
port="$(head -1 "$work/port")"
[[ -n "$port" ]] || { echo "the server did not start" >&2; exit 1; }

globals=(--ini-dir "$work/ini" --data-dir "$work/data" --registry-dir "$work/registry"
  --ca-file "$work/cert.pem" --connect-to "vexmsg.test:443:127.0.0.1:$port" --out "$work/out")
"$vexcomm" "${globals[@]}" user set --blz 11122233 --kunden-nr 4711 --datei-nr 0 >/dev/null
start=$(date +%s.%N)
"$vexcomm" "${globals[@]}" get-new >/dev/null
end=$(date +%s.%N)
saved=$(find "$work/out" -name '*-datei*.txt' | wc -l)
python3 -c "s=$end-$start; print(f'{$saved} files in {s:.2f} s ({$saved/s:.0f} files/s) beside $clutter others')"
