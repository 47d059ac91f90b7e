#!/usr/bin/env bash
# OpenSSL is loaded when a command first needs it: neither the library nor vexcomm names libssl or
# libcrypto as a needed library, a local command does not load them, and a command that uses
# OpenSSL (--version prints its version) finds it through the stubs.
# Usage: check-lazy-openssl.sh LIBRARY VEXCOMM
set -euo pipefail
library=$1
vexcomm=$2
status=0
for binary in "$library" "$vexcomm"; do
  if readelf -d "$binary" | grep -E 'NEEDED.*\[lib(ssl|crypto)\.so' >&2; then
    echo "$binary links OpenSSL at start (above)" >&2
    status=1
  fi
done

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
run() { HOME=$home XDG_CONFIG_HOME=$home LANG=C LD_DEBUG=files "$vexcomm" "$@" 2>"$home/loader.log"; }
run --registry-dir "$home" user show >/dev/null
# The loader names a library it only looks for (dlopen's RTLD_NOLOAD) too; one it loads, it
# initialises.
if grep -E 'calling init: .*/lib(ssl|crypto)\.so' "$home/loader.log" >&2; then
  echo "vexcomm user show loaded OpenSSL (above)" >&2
  status=1
fi
version=$(run --version)
if ! grep -q '^OpenSSL [0-9]' <<<"$version" || ! grep -q 'calling init: .*/libssl\.so' "$home/loader.log"; then
  printf 'vexcomm --version did not reach OpenSSL:\n%s\n' "$version" >&2
  status=1
fi
exit $status
