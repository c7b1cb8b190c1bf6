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
wine=/usr/lib/wine/wine64

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

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$wine" "$@"
fi
exec "$wine" "$@"
