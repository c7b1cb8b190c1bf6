#!/usr/bin/env bash
# Download benchmark (bench/download_bench.py does the work): the stub's download routine and a
# plain InternetReadFile loop under Wine, and curl, against a local nginx; medians of ROUNDS
# interleaved rounds (default 5).
# Usage: [ROUNDS=n] bench/download_bench.sh [--https] [--clients stub,plain,curl]   (after scripts/build.sh)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
exec python3 "$root/bench/download_bench.py" "$@"
