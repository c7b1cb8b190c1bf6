#!/usr/bin/env bash
# The main job: builds everything, makes a sample setup from samples/product with the builder,
# runs it under Wine and shows what happened.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
bash scripts/build.sh >/dev/null

out="$root/build/main-job"
rm -rf "$out"
mkdir -p "$out"
builder="$root/build/native/tools/builder/ulvbuild"
stub="$root/build/win64/src/stub/ulvstub.exe"

echo "== Building the sample setup"
"$builder" --stub "$stub" --out "$out/SampleSetup.exe" --files "$root/samples/product" \
  --main readme.txt --languages "$root/samples/languages.ini" \
  --update-url "http://127.0.0.1:8080/updates/" --info-file "SampleProduct.info" --agent-exe "SampleAgent.exe"

echo "== Running it under Wine (trace lines as the debug viewer receives them)"
export ULV_WINEPREFIX="${ULV_WINEPREFIX:-$root/build/wineprefix}"
run="$root/tests/wine/wine-run.sh"
tools="$root/build/win64/tools/wintest"
xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  # One private display for the viewer and the setup together.
  for n in $(seq 130 160); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    break
  done
  sleep 1
fi
trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" >/dev/null 2>&1 || true' EXIT
"$run" "$tools/ulvtraceview.exe" "Z:${out//\//\\}\\trace.txt" &
viewer_pid=$!
"$run" "$tools/ulvwinmsg.exe" find .UDebug. 60000 >/dev/null
set +e
"$run" "$out/SampleSetup.exe"
rc=$?
set -e
sleep 2  # children of the setup may still be writing their trace lines
"$run" "$tools/ulvwinmsg.exe" post .UDebug. 16 >/dev/null || true
wait "$viewer_pid" || true
tr -d '\r' < "$out/trace.txt"
echo "== Exit code: $rc"
