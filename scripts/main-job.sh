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
tools="$root/build/win64/tools/wintest"

echo "== Building the sample setup"
# The product's files, and the demo engine with its settings as the program the setup starts;
# the launcher also leaves the update agent beside them, which the engine installs too.
"$builder" --stub "$stub" --out "$out/SampleSetup.exe" --files "$root/samples/product" \
  --file "$tools/ulvdemoengine.exe=DemoEngine.exe" --file "$root/samples/engine/DemoEngine.ini=DemoEngine.ini" \
  --main DemoEngine.exe --languages "$root/samples/languages.ini" \
  --update-url "http://127.0.0.1:8080/updates/" --info-file "SampleProduct.info" --agent-exe "SampleAgent.exe" \
  --install-agent

echo "== Running it under Wine (trace lines as the debug viewer receives them)"
export ULV_WINEPREFIX="${ULV_WINEPREFIX:-$root/build/wineprefix}"
run="$root/tests/wine/wine-run.sh"
# Where the demo engine installs the product (samples/engine/DemoEngine.ini); emptied first, so
# that what is shown below is this run's work.
target="$ULV_WINEPREFIX/drive_c/Program Files/Sample Product"
rm -rf "$target"
# One private display for the viewer and the setup together.
. "$root/scripts/xvfb.sh"
start_private_xvfb 130 160
xvfb_pid=$XVFB_PID
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
echo "== Installed into C:\\Program Files\\Sample Product (in the Wine prefix: $target)"
if [ -d "$target" ]; then
  (cd "$target" && find . -type f | sed 's|^\./||' | sort | while read -r f; do
    printf '%10d  %s\n' "$(stat -c %s "$f")" "$f"
  done)
  echo "== SampleProduct.original"
  tr -d '\r' < "$target/SampleProduct.original" 2>/dev/null || echo "(missing)"
else
  echo "(nothing installed)"
fi
echo "== Exit code: $rc"
