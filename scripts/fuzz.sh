#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang-14) and runs each for a bounded time.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
seconds=${1:-60}
bash scripts/install-deps.sh
[ -f build/fuzz/build.ninja ] || cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
status=0
for target in build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="build/fuzz-corpus/$name"
  mkdir -p "$corpus"
  echo "== $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 -artifact_prefix="build/$name-" "$corpus" 2> "build/fuzz-$name.log"; then
    status=1
    tail -40 "build/fuzz-$name.log"
  else
    grep -E 'stat::number_of_executed_units|Done' "build/fuzz-$name.log" | tail -2
  fi
done
exit $status
