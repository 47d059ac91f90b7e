#!/usr/bin/env bash
# Builds the example host against an installed package (through the CMake package and through
# pkg-config, with the compiler's default standard) and runs it against the installed reference
# server; then the faults of a host's edge as hosts meet them: a C++ host with its own
# operator new and one built with ASan, and the Python package's edge tests.
#   check_package.sh BUILD_DIR        installs the build into a temporary prefix first
#   check_package.sh --prefix PREFIX  an installed tree, e.g. the Debian packages unpacked
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
server_pid=
cleanup() {
  if [[ -n $server_pid ]]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" || true; fi
  rm -rf "$work"
}
slow_pid=
trap 'cleanup; [[ -z $slow_pid ]] || kill "$slow_pid" 2>/dev/null || true' EXIT

if [[ $1 == --prefix ]]; then
  prefix=$(cd "$2" && pwd)
else
  prefix=$work/prefix
  cmake --install "$(cd "$1" && pwd)" --prefix "$prefix" >/dev/null
fi
for f in bin/vexcomm bin/vexmsg-server share/vexcomm5/Kurse.dat include/vexcomm/vexcomm.h \
  include/vexcomm/version_number.h share/man/man1/vexcomm.1 share/man/man1/vexmsg-server.1 \
  share/bash-completion/completions/vexcomm share/locale/de/LC_MESSAGES/vexcomm.mo \
  share/doc/vexmsg-server/README.md \
  share/doc/vexmsg-server/sample-scenario.json; do
  # A package compresses the manual pages.
  [[ -s $prefix/$f || -s $prefix/$f.gz ]] || { echo "not installed: $f"; exit 1; }
done
# The pages are ones a reader can show, and the completion loads.
if command -v man >/dev/null; then
  for page in "$prefix"/share/man/man1/*; do
    man -l "$page" 2>&1 >/dev/null | grep . && { echo "$page has faults"; exit 1; }
  done
fi
bash -c "source '$prefix/share/bash-completion/completions/vexcomm' && complete -p vexcomm" >/dev/null

pc=$(find "$prefix" -name vexcomm5.pc)
export PKG_CONFIG_PATH=$(dirname "$pc")
libdir=$(pkg-config --variable=libdir vexcomm5)
version=$(pkg-config --modversion vexcomm5)
# The programs of a tree outside the loader's folders (packages unpacked into a temporary root)
# have no RUNPATH to find the library by.
[[ $1 == --prefix ]] && export LD_LIBRARY_PATH=$libdir
[[ $("$prefix/bin/vexcomm" --version) == *"$version"* ]] || { echo "vexcomm --version"; exit 1; }
# The installed program finds its German catalogue wherever the tree is.
LANG=de_DE.UTF-8 LC_ALL= LANGUAGE= "$prefix/bin/vexcomm" --help | grep -q '^Aufruf: vexcomm' ||
  { echo "vexcomm does not speak German with LANG=de_DE.UTF-8"; exit 1; }

cmake -S "$source_dir/examples" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/build" >/dev/null
# shellcheck disable=SC2046
g++ "$source_dir/examples/fetch_messages.cpp" -o "$work/fetch_messages_pc" \
  $(pkg-config --cflags --libs vexcomm5) -Wl,-rpath,"$libdir"
# An older standard is told what it needs, first thing.
if echo '#include <vexcomm/vexcomm.h>' |
  g++ -std=c++17 -fsyntax-only -x c++ -I"$(pkg-config --variable=includedir vexcomm5)" - \
    2>"$work/cxx17.txt"; then
  echo "C++17 accepted"; exit 1
fi
grep -m1 " error: " "$work/cxx17.txt" | grep -q "needs C++20" || { head -3 "$work/cxx17.txt"; exit 1; }
package_flags=$(pkg-config --cflags --libs vexcomm5)
# The host's own operator new must see every block the library frees; ASan checks each free
# against its allocation.
edge=("$source_dir/tests/package/edge_host.cpp" -I "$source_dir/examples")
# shellcheck disable=SC2086
g++ -DOWN_OPERATOR_NEW "${edge[@]}" -o "$work/edge_host_own_new" $package_flags \
  -Wl,-rpath,"$libdir"
# shellcheck disable=SC2086
g++ -g -fsanitize=address -fno-omit-frame-pointer "${edge[@]}" \
  -o "$work/edge_host_asan" $package_flags -Wl,-rpath,"$libdir"

# A server certificate that is its own authority, a folder set and an identity for the host.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 \
  -subj /CN=vexmsg.test -addext subjectAltName=DNS:vexmsg.test \
  -keyout "$work/server.key" -out "$work/server.pem" 2>/dev/null
mkdir -p "$work/ini" "$work/data"
printf '[Comm]\r\nIP=vexmsg.test\r\n' >"$work/ini/MorvaZedi.ini"
cat >"$work/scenario.json" <<'JSON'
{"installations": [{"blz": "11122233", "kundennr": "4711",
  "files": [{"nr": 1, "name": "hallo.txt", "typ": "TXT", "content": "Hallo aus dem Paket €"}]}]}
JSON
"$prefix/bin/vexcomm" --registry-dir "$work/registry" user set --blz 11122233 --kunden-nr 4711 \
  >/dev/null

mkfifo "$work/port"
"$prefix/bin/vexmsg-server" --cert "$work/server.pem" --key "$work/server.key" \
  --scenario "$work/scenario.json" --listen 127.0.0.1:0 --print-port --quiet >"$work/port" &
server_pid=$!
read -r -t 30 port <"$work/port"

for host in "$work/build/fetch_messages" "$work/fetch_messages_pc"; do
  "$prefix/bin/vexcomm" --registry-dir "$work/registry" user set --datei-nr 0 >/dev/null
  output=$(VEXCOMM_INI_DIR=$work/ini VEXCOMM_DATA_DIR=$work/data \
    VEXCOMM_REGISTRY_DIR=$work/registry \
    "$host" --ca-file "$work/server.pem" --connect-to "vexmsg.test:443:127.0.0.1:$port")
  # 21 octets as the server sent them (the euro sign is one), 23 in UTF-8.
  grep -q "^file 1 hallo.txt (21 octets)$" <<<"$output" || { echo "$output"; exit 1; }
  grep -q "^Fehler.Code 0 " <<<"$output" || { echo "$output"; exit 1; }
  grep -qx "VexComm5 headers $version, library $version" <<<"$output" || { echo "$output"; exit 1; }
done

# A handler that fails refuses its file (the next run fetches it); the first object hears
# nothing of the second's runs.
expected="failing handler: local_store_file_refused [disk full] Fehler.Code 2 Datei nicht angenommen: disk full
file 1 hallo.txt (21 octets)
saving handler: ok [] Fehler.Code 0
first object heard 0"
for host in "$work/edge_host_own_new" "$work/edge_host_asan"; do
  "$prefix/bin/vexcomm" --registry-dir "$work/registry" user set --datei-nr 0 >/dev/null
  output=$(VEXCOMM_INI_DIR=$work/ini VEXCOMM_DATA_DIR=$work/data \
    VEXCOMM_REGISTRY_DIR=$work/registry ASAN_OPTIONS=detect_leaks=0 \
    "$host" "$work/server.pem" "vexmsg.test:443:127.0.0.1:$port" 2>&1) ||
    { echo "$host failed:"; echo "$output"; exit 1; }
  [[ $output == "$expected" ]] || { echo "$host:"; echo "$output"; exit 1; }
done

# The Python package as installed, when the build has it, with the interpreter it was built for.
module=$(find "$prefix" -name '_vexcomm*.so' -print -quit)
if [[ -n $module ]]; then
  python=
  [[ $1 == --prefix ]] || python=$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' "$1/CMakeCache.txt")
  PYTHONPATH=$(dirname "$(dirname "$module")") VEXMSG_SERVER=$prefix/bin/vexmsg-server \
    VEXCOMM_CLI=$prefix/bin/vexcomm "${python:-python3}" -m pytest -q -p no:cacheprovider \
    "$source_dir/python/tests" -k edge
fi

# The GLib host against a server that never answers: its loop's timer keeps firing inside Send,
# and a Cancel from the loop ends the run.
[[ -x $work/build/glib_host ]] || { echo "glib_host not built"; exit 1; }
echo '{"rules": [{"code": "AKNEW", "silent": true}]}' >"$work/silent.json"
mkfifo "$work/slow_port"
"$prefix/bin/vexmsg-server" --cert "$work/server.pem" --key "$work/server.key" \
  --scenario "$work/silent.json" --listen 127.0.0.1:0 --print-port --quiet >"$work/slow_port" &
slow_pid=$!
read -r -t 30 slow_port <"$work/slow_port"
status=0
output=$(VEXCOMM_INI_DIR=$work/ini VEXCOMM_DATA_DIR=$work/data VEXCOMM_REGISTRY_DIR=$work/registry \
  "$work/build/glib_host" --ca-file "$work/server.pem" \
  --connect-to "vexmsg.test:443:127.0.0.1:$slow_port" --cancel-after-ms 400) || status=$?
grep -q "^Fehler.Code 2 Benutzer-Abbruch$" <<<"$output" || { echo "$output"; exit 1; }
ticks=$(sed -n 's/^timer ticks during Send: //p' <<<"$output")
((status == 1 && ticks >= 10)) || { echo "$output"; exit 1; }
