#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang-14) and runs them one after the other, each
# for a bounded time, starting from the committed corpus (fuzz/corpus/<target>, read only) and its
# dictionary (fuzz/dict/<target>.dict). New inputs go to build/fuzz-corpus/<target>; a crash,
# leak or hang leaves its input as build/fuzz-artifacts/<target>/crash-* (leak-*, timeout-*) and
# makes the exit code 1. One summary line per target: runs, coverage, corpus, crashes.
#
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]   (default 60 s, every target)
#   e.g. nice -n 19 bash scripts/fuzz.sh 600 > build/fuzz-campaign.log 2>&1 &
#        scripts/fuzz.sh merge [TARGET...]
#
# "merge" folds a campaign's finds into the committed corpus and keeps it small: first the
# smallest inputs that reach every edge reached so far (hit counts ignored), then inputs cut to
# 256 bytes that add hit-count features on top. The replay tests of the native tree run it all.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
mode=run
if [ "${1:-}" = merge ]; then
  mode=merge
  shift
else
  seconds=${1:-60}
  shift || true
fi
bash scripts/install-deps.sh
[ -f build/fuzz/build.ninja ] || cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

targets=()
if [ $# -gt 0 ]; then
  for name in "$@"; do targets+=("build/fuzz/fuzz/${name#build/fuzz/fuzz/}"); done
else
  for target in build/fuzz/fuzz/fuzz_*; do [ -x "$target" ] && targets+=("$target"); done
fi

if [ "$mode" = merge ]; then
  for target in "${targets[@]}"; do
    name=$(basename "$target")
    merged="build/fuzz-merge/$name"
    rm -rf "$merged"
    mkdir -p "$merged" "build/fuzz-corpus/$name" "fuzz/corpus/$name"
    "$target" -merge=1 -use_counters=0 "$merged" "fuzz/corpus/$name" "build/fuzz-corpus/$name" > "build/fuzz-merge-$name.log" 2>&1
    "$target" -merge=1 -max_len=256 "$merged" "fuzz/corpus/$name" "build/fuzz-corpus/$name" >> "build/fuzz-merge-$name.log" 2>&1
    rm -rf "fuzz/corpus/$name"
    mv "$merged" "fuzz/corpus/$name"
    echo "$name: $(find "fuzz/corpus/$name" -type f | wc -l) inputs," \
         "$(find "fuzz/corpus/$name" -type f -printf '%s\n' | awk '{s+=$1} END {print s+0}') bytes"
  done
  exit 0
fi

status=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus="build/fuzz-corpus/$name"
  artifacts="build/fuzz-artifacts/$name"
  log="build/fuzz-$name.log"
  mkdir -p "$corpus" "$artifacts" "fuzz/corpus/$name"
  options=(-max_total_time="$seconds" -max_len=65536 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$artifacts/")
  [ -f "fuzz/dict/$name.dict" ] && options+=(-dict="fuzz/dict/$name.dict")
  echo "== $name for ${seconds}s"
  result=0
  "$target" "${options[@]}" "$corpus" "fuzz/corpus/$name" > "$log" 2>&1 || result=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<< "$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<< "$last")
  corp=$(sed -n 's/.* corp: \([^ ]*\).*/\1/p' <<< "$last")
  found=$(find "$artifacts" -type f | wc -l)
  echo "$name: runs ${runs:-?}, cov ${cov:-?}, ft ${ft:-?}, corpus ${corp:-?} (inputs/size), artifacts $found"
  if [ "$result" -ne 0 ]; then
    status=1
    tail -40 "$log"
  fi
done
exit $status
