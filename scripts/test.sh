#!/usr/bin/env bash
# The project's test command: installs what the builds need, builds the three trees (native with
# sanitizers, win64 for Wine, win32 the shipping stub) and runs every test through one CTest run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
bash scripts/build.sh

# One fresh Wine prefix and one display for the whole run.
export ULV_WINEPREFIX="$root/build/wineprefix"
[ -d "$ULV_WINEPREFIX" ] && WINEPREFIX="$ULV_WINEPREFIX" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
rm -rf "$ULV_WINEPREFIX" "$ULV_WINEPREFIX.lock"
xvfb_pid=""
cleanup() {
  WINEPREFIX="$ULV_WINEPREFIX" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" >/dev/null 2>&1 || true
}
trap cleanup EXIT
. scripts/xvfb.sh
start_private_xvfb 90 120
xvfb_pid=$XVFB_PID

tests/wine/wine-run.sh --prepare

# The three trees form one test project, so that CTest prints one summary for all of them.
cat > build/CTestTestfile.cmake <<'CTEST'
subdirs("native" "win64" "win32")
CTEST
ctest --test-dir build --output-on-failure -j2 "$@"
