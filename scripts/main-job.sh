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

echo "== Running it under Wine"
export ULV_WINEPREFIX="${ULV_WINEPREFIX:-$root/build/wineprefix}"
set +e
"$root/tests/wine/wine-run.sh" "$out/SampleSetup.exe" > "$out/trace.txt"
rc=$?
set -e
sleep 2  # children of the setup may still be writing their trace lines
tr -d '\r' < "$out/trace.txt"
echo "== Exit code: $rc"
