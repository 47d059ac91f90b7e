#!/usr/bin/env bash
# Makes the Debian packages of a built folder with cpack, checks them with lintian (no errors),
# installs them with dpkg into an empty root (no container: dpkg --root, whose database starts
# empty, so only dependencies outside our own packages are forced) and runs the installed
# programs and the example host built against the installed files there.
# Usage: check-deb.sh BUILD_DIR [SONAME...]
#   SONAME: a library that the shared library opens itself when first needed (dlopen), which its
#   package must depend on like a needed one.
set -euo pipefail
build_dir=$(cd "$1" && pwd)
shift
opened_later=("$@")
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'echo "check-deb.sh: failed at line $LINENO" >&2' ERR

cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/out" >"$work/cpack.txt" 2>&1 ||
  { cat "$work/cpack.txt"; exit 1; }
debs=("$work"/out/*.deb)
names=$(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Package; done | sort | xargs)
[[ $names == "libvexcomm5-5 libvexcomm5-dev vexcomm vexmsg-server" ]] || { echo "packages: $names"; exit 1; }

# Errors fail; warnings are shown.
lintian --fail-on error --tag-display-limit 0 "${debs[@]}"

root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
as_user=()
((EUID == 0)) || as_user=(--force-not-root)
# The system's libraries are not in the empty root: those dependencies alone are forced.
dpkg --root="$root" --log=/dev/null --force-depends --force-script-chrootless "${as_user[@]}" \
  --install "${debs[@]}" >"$work/dpkg.txt" 2>&1 || { cat "$work/dpkg.txt"; exit 1; }
unmet=$(grep -o "depends on [a-z0-9.+-]*" "$work/dpkg.txt" | sort -u | grep -E "vexcomm|vexmsg" || true)
[[ -z $unmet ]] || { echo "unmet among our packages: $unmet"; cat "$work/dpkg.txt"; exit 1; }

# Every library a program or the library loads comes from a package it depends on.
for deb in "${debs[@]}"; do
  depends=$(dpkg-deb -f "$deb" Depends)
  depended=$(tr ',|' '\n\n' <<<"$depends" | awk '{print $1}')
  for file in $(dpkg-deb -c "$deb" | awk '{print $6}' | grep -E '^\./usr/(bin/.|lib/.*\.so\.)'); do
    [[ -L $root/$file ]] && continue
    later=()
    [[ $file == */libvexcomm5.so.* ]] && later=("${opened_later[@]}")
    for needed in $(objdump -p "$root/$file" | awk '/NEEDED/ {print $2}') "${later[@]}"; do
      [[ -z $needed || $needed == libvexcomm5.so.* ]] && continue
      # Each reader takes its whole input: a writer cut off early would fail the pipe.
      path=$(ldconfig -p | awk -v lib="$needed" '$1 == lib && !path {path = $NF} END {print path}')
      # Merged /usr: a package may have registered the file under either name.
      owner=$({ dpkg -S "$path" || dpkg -S "/usr$path" || dpkg -S "${path#/usr}"; } 2>/dev/null |
        awk -F: 'NR == 1 {print $1}')
      [[ -n $owner ]] || { echo "$needed ($path) belongs to no package"; exit 1; }
      grep -qxF "$owner" <<<"$depended" ||
        { echo "$(dpkg-deb -f "$deb" Package): $file needs $needed ($owner), not in: $depends"; exit 1; }
    done
  done
done

usr=$root/usr
LD_LIBRARY_PATH=$(dirname "$(find "$usr" -name 'libvexcomm5.so.*' -print -quit)") \
  "$usr/bin/vexcomm" --version
bash "$source_dir/examples/check_package.sh" --prefix "$usr"
