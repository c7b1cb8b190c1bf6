#!/usr/bin/env bash
# Installs every Debian package the builds and the tests need. Safe to run again:
# apt-get skips what is already there, and the package list is refreshed only when
# something is missing.
set -euo pipefail

packages=(
  cmake ninja-build make python3 file
  g++ googletest libgtest-dev
  clang-14 libclang-rt-14-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev zlib1g-dev
  wine64 wine
  xvfb xauth x11-utils imagemagick
  nginx openssl ca-certificates curl locales
  libssl-dev osslsigncode
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# Packages with a daemon (nginx) would start it from their install scripts, on port 80 and
# without an init system here; the tests run their own instances, so services are kept from
# starting while apt-get runs. A policy file that is already there is left alone.
policy=/usr/sbin/policy-rc.d
made_policy=""
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
  $SUDO chmod 755 "$policy"
  made_policy=1
fi
remove_policy() { [ -z "$made_policy" ] || $SUDO rm -f "$policy"; }
trap remove_policy EXIT
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
