#!/usr/bin/env bash
# The project's test command: installs what the builds need, builds the three trees (native with
# sanitizers, win64 for Wine, win32 the shipping stub) and runs every test through one CTest run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
bash scripts/build.sh

# One fresh Wine prefix and one display for the whole run, and one of each for the i686 layer,
# which runs beside the win64 tests (it makes its prefix itself, under its own lock).
export ULV_WINEPREFIX="$root/build/wineprefix"
export ULV_I686_WINEPREFIX="$root/build/wineprefix-i686"
end_wine() {
  local prefix
  for prefix in "$ULV_WINEPREFIX" "$ULV_I686_WINEPREFIX"; do
    [ -d "$prefix" ] && WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  done
}
end_wine
rm -rf "$ULV_WINEPREFIX" "$ULV_WINEPREFIX.lock" "$ULV_I686_WINEPREFIX" "$ULV_I686_WINEPREFIX.lock"
xvfb_pids=()
cleanup() {
  end_wine
  [ ${#xvfb_pids[@]} -eq 0 ] || kill "${xvfb_pids[@]}" >/dev/null 2>&1 || true
}
trap cleanup EXIT
. scripts/xvfb.sh
start_private_xvfb 90 120
[ -z "$XVFB_PID" ] || xvfb_pids+=("$XVFB_PID")
run_display=${DISPLAY:-}
unset DISPLAY
start_private_xvfb 121 150
[ -z "$XVFB_PID" ] || xvfb_pids+=("$XVFB_PID")
export ULV_I686_DISPLAY=${DISPLAY:-} DISPLAY=$run_display

tests/wine/wine-run.sh --prepare

# The three trees form one test project, so that CTest prints one summary for all of them.
cat > build/CTestTestfile.cmake <<'CTEST'
subdirs("native" "win64" "win32")
CTEST
ctest --test-dir build --output-on-failure -j2 "$@"
