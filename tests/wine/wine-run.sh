#!/usr/bin/env bash
# Runs a Windows program of the test build under Wine, with the test run's own prefix (made once,
# concurrent callers wait for it) and a display (the run's Xvfb, or a private one when none is set).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
export WINEPREFIX=${ULV_WINEPREFIX:-$root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: the stub needs neither, and their installers would wait for a person.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# The 64-bit loader hands 32-bit programs to the 32-bit one (wine32), and where that is installed
# it makes the prefix with its 32-bit part too.
wine=/usr/lib/wine/wine64
# Where i386 programs run through qemu-i386, Wine's 32-bit part needs the low 4 GB laid out as on
# a 32-bit system, or it cannot map its shared user data (natively the variable is unused).
export QEMU_RESERVED_VA=${QEMU_RESERVED_VA:-0xf7000000}

if [ ! -f "$WINEPREFIX/.ulv-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.ulv-ready" ]; then
    "$wine" wineboot -i >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w || true
    touch "$WINEPREFIX/.ulv-ready"
  fi
  flock -u 9
  exec 9>&-
fi

# "--prepare" only makes sure the prefix exists.
[ "${1:-}" = "--prepare" ] && exit 0

# Without a display of the caller's, the prefix gets one of its own, shared by every later call:
# all processes of one Wine server must use the same display to see each other's windows.
if [ -z "${DISPLAY:-}" ]; then
  exec 8>"$WINEPREFIX.display.lock"
  flock 8
  display=""
  if [ -f "$WINEPREFIX.display" ]; then
    read -r display xpid < "$WINEPREFIX.display" || true
    kill -0 "${xpid:-0}" 2>/dev/null || display=""
  fi
  if [ -z "$display" ]; then
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    for n in $(seq 200 260); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
      setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 < /dev/null &
      echo ":$n $!" > "$WINEPREFIX.display"
      display=":$n"
      sleep 1
      break
    done
  fi
  flock -u 8
  exec 8>&-
  export DISPLAY="$display"
fi
exec "$wine" "$@"
