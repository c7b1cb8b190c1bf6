#!/usr/bin/env bash
# Installs every Debian package the builds and the tests need. Safe to run again:
# apt-get skips what is already there, and the package list is refreshed only when
# something is missing.
#
# The shipping stub is a 32-bit program, so Wine's 32-bit part (wine32 of Debian's i386
# architecture) is installed too, and i386 programs are made to run: natively where the kernel
# runs them, else through qemu-i386 registered with binfmt_misc. A machine where neither works
# still builds and runs every other test; the i686 tests then skip and say why.
# ULV_I386_EMULATE=1 sets qemu-i386 up even where the kernel runs i386 programs, to try the slow
# path: binfmt_misc takes its entries before the kernel's own ELF loader, so every i386 program
# of the machine (or of the user namespace that mounted its own binfmt_misc) then runs emulated.
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
# apt gives up on wine32 unless this one is named first.
i386_packages=(libgstreamer-plugins-base1.0-0:i386 wine32:i386)
wine32=/usr/lib/wine/wine
binfmt=/proc/sys/fs/binfmt_misc
# The i386 ELF executables (qemu's own pattern): the interpreter is opened at registration (F),
# so the entry works in every mount namespace.
qemu_entry=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F'

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# Packages with a daemon (nginx) would start it from their install scripts, on port 80 and
# without an init system here; the tests run their own instances, so services are kept from
# starting while apt-get runs. A policy file that is already there is left alone.
policy=/usr/sbin/policy-rc.d
made_policy=""
remove_policy() { [ -z "$made_policy" ] || $SUDO rm -f "$policy"; }
trap remove_policy EXIT
updated=""
apt_install() {
  if [ -z "$made_policy" ] && [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod 755 "$policy"
    made_policy=1
  fi
  if [ -z "$updated" ]; then
    $SUDO apt-get update -qq
    updated=1
  fi
  $SUDO apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

# A package of both architectures must have one version in both. Where an index of one
# architecture lags behind the other's, apt finds no such version and gives up, or would remove
# the 64-bit Wine to make room: nothing is ever removed here (--no-remove), and a second try
# holds Debian-Security below the main suite, whose two indexes agree.
install_i386() {
  apt_install --no-remove "${i386_packages[@]}" 2>/dev/null && return 0
  local pin
  pin=$(mktemp)
  printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 400\n' > "$pin"
  chmod 644 "$pin"
  local rc=0
  apt_install --no-remove -o Dir::Etc::Preferences="$pin" "${i386_packages[@]}" || rc=$?
  rm -f "$pin"
  return $rc
}

runs_i386() { [ -x "$wine32" ] && "$wine32" --version >/dev/null 2>&1; }

# qemu-i386 for every i386 program: mounts binfmt_misc and registers the entry, or enables it
# again; an entry that is there and enabled is left as it is.
emulate_i386() {
  installed qemu-user-static || apt_install qemu-user-static
  [ -e "$binfmt/register" ] || $SUDO mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || return 1
  if [ -e "$binfmt/qemu-i386" ]; then
    grep -qx enabled "$binfmt/qemu-i386" || echo 1 | $SUDO tee "$binfmt/qemu-i386" >/dev/null
  else
    printf '%s' "$qemu_entry" | $SUDO tee "$binfmt/register" >/dev/null
  fi
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
else
  echo "install-deps: installing ${missing[*]}"
  apt_install "${missing[@]}"
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  updated=""
fi
missing_i386=()
for p in "${i386_packages[@]}"; do
  installed "$p" || missing_i386+=("$p")
done
if [ ${#missing_i386[@]} -gt 0 ]; then
  echo "install-deps: installing ${i386_packages[*]}"
  install_i386 || echo "install-deps: wine32:i386 could not be installed"
fi

if [ "${ULV_I386_EMULATE:-}" != 1 ] && runs_i386; then
  if [ -e "$binfmt/qemu-i386" ] && grep -qx enabled "$binfmt/qemu-i386"; then
    echo "install-deps: i386 programs run through qemu-i386"
  else
    echo "install-deps: i386 programs run natively"
  fi
elif [ -x "$wine32" ] && emulate_i386 && runs_i386; then
  echo "install-deps: i386 programs run through qemu-i386 (registered with binfmt_misc)"
else
  echo "install-deps: this machine runs no i386 programs: the i686 tests will skip"
fi
echo "install-deps: done"
