#!/usr/bin/env bash
# Unpack benchmark: ~256 MB of mixed data (~3:1 under zlib, records of 120 MB and 100 MB) packed
# by the builder, then, in one run, ROUNDS rounds (default 5) of, in turn:
#   - UnpackPayload of the win64 stub's code under Wine (tools/wintest/ulvunpack),
#   - a plain zlib inflate-to-file loop of the same toolchain under the same Wine (ulvinflate),
#   - native gzip -d of the same data,
# and the stub's peak memory, once with the large records and once with the same data cut into
# 4 MB records, to show that memory stays flat as records grow; every figure is given as the
# median (min-max) over the rounds.
# Usage: [ROUNDS=n] bench/unpack_bench.sh   (after scripts/build.sh)
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
# "median min max" of the numbers given.
stats() { python3 -c 'import statistics, sys; v = [float(a) for a in sys.argv[1:]]; print("%g %g %g" % (statistics.median(v), min(v), max(v)))' "$@"; }
# MB/s "median (min-max)" of BYTES over the times in ms given.
mbps() {
  python3 -c '
import statistics, sys
v = [int(sys.argv[1]) / 1048576 / (float(ms) / 1000.0) for ms in sys.argv[2:]]
print("%.1f (%.1f-%.1f)" % (statistics.median(v), min(v), max(v)))' "$@"
}

# The three unpackers take turns in every round, so that a slow spell of the machine (the other
# core busy, the page cache filling) falls on all of them alike rather than on one.
rounds=${ROUNDS:-5}
stub_total=() stub_net=() plain_all=() gzip_all=()
stub_peak=0 stub_ws=0
for round in $(seq 1 "$rounds"); do
  echo "== round $round of $rounds"
  rm -rf "$work/out-large" "$work/plain.out" "$work/gzip.out"
  out=$("$run" "$tools/ulvunpack.exe" "$(winpath "$work/large.exe")" "$(winpath "$work/out-large")" --quiet)
  # Every unpacking ends with a fixed 500 ms pause that keeps the window responsive while it
  # settles; it is no part of the unpacking speed, so it is taken out (and shown).
  total_ms=$(echo "$out" | field ms)
  stub_total+=("$total_ms")
  stub_net+=($((total_ms - 500)))
  peak=$(echo "$out" | field peakprivate)
  ws=$(echo "$out" | field peakworkingset)
  if [ "${peak:-0}" -gt "$stub_peak" ]; then stub_peak=$peak; fi
  if [ "${ws:-0}" -gt "$stub_ws" ]; then stub_ws=$ws; fi
  echo "$out" | tr -d '\r' | grep -E 'verdict|ms='
  if [ "$round" -eq 1 ]; then
    cmp <(cat "$work"/out-large/*) <(cat "$work"/payload/*) && echo "output identical to the payload"
  fi

  plain=$("$run" "$tools/ulvinflate.exe" "$(winpath "$work/all.gz")" "$(winpath "$work/plain.out")")
  plain_all+=("$(echo "$plain" | field ms)")

  start=$(date +%s%N)
  gzip -dc "$work/all.gz" > "$work/gzip.out"
  gzip_all+=($(( ($(date +%s%N) - start) / 1000000 )))
  echo "stub ${stub_net[-1]} ms (+500 ms pause), plain zlib loop ${plain_all[-1]} ms, native gzip -d ${gzip_all[-1]} ms"
done

echo "== unpack, 4 MB records"
rm -rf "$work/out-small"
out_small=$("$run" "$tools/ulvunpack.exe" "$(winpath "$work/small.exe")" "$(winpath "$work/out-small")" --quiet)
small_peak=$(echo "$out_small" | field peakprivate)
small_ws=$(echo "$out_small" | field peakworkingset)

read -r stub_total_med stub_total_min stub_total_max <<< "$(stats "${stub_total[@]}")"
read -r stub_med stub_min stub_max <<< "$(stats "${stub_net[@]}")"
read -r plain_med plain_min plain_max <<< "$(stats "${plain_all[@]}")"
read -r gzip_med gzip_min gzip_max <<< "$(stats "${gzip_all[@]}")"
echo
echo "$rounds rounds; figures are median (min-max)"
echo "stub: $stub_total_med ms ($stub_total_min-$stub_total_max) in all, $stub_med ms ($stub_min-$stub_max) without the closing 500 ms pause"
echo "plain zlib loop: $plain_med ms ($plain_min-$plain_max); native gzip -d: $gzip_med ms ($gzip_min-$gzip_max)"
echo "output MB/s: stub $(mbps "$payload_bytes" "${stub_net[@]}"), plain zlib loop $(mbps "$payload_bytes" "${plain_all[@]}"), native gzip -d $(mbps "$payload_bytes" "${gzip_all[@]}")"
echo "ratio stub / plain loop (medians): $(python3 -c "print('%.2f' % ($plain_med / $stub_med))")  (target >= 0.9)"
echo "stub peak private memory (highest of all rounds): large records $((stub_peak / 1048576)) MB, 4 MB records $((small_peak / 1048576)) MB (target < 64 MB, flat)"
echo "stub peak working set:    large records $((stub_ws / 1048576)) MB, 4 MB records $((small_ws / 1048576)) MB"
rm -rf "$work/out-large" "$work/out-small" "$work/plain.out" "$work/gzip.out"
