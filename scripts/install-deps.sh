#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need.
set -euo pipefail
packages=(build-essential cmake ninja-build ccache pkg-config clang clang-format
          libssl-dev openssl libasio-dev libsqlcipher-dev nlohmann-json3-dev
          libgtest-dev libgmock-dev libbenchmark-dev tinyproxy libclang-rt-14-dev
          libglib2.0-dev librsvg2-bin librsvg2-dev python3 python3-dev python3-venv pybind11-dev
          python3-pybind11 python3-pytest mypy doxygen dpkg-dev file lintian gettext locales)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The tests run the program in German as well: the locale must exist.
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
  sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -qx 'de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
fi
