#!/usr/bin/env bash
# The main job: builds everything, then tells the product's whole story under Wine: a local
# nginx, version 1 of the sample product installed through a web installer, the product and its
# agent started, version 2 published with the builder, and the agent finding, downloading and
# installing it while the product is closed and started again (scripts/main_job.py).
#   bash scripts/main-job.sh            the update
#   bash scripts/main-job.sh --inform   an information page published instead
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
bash scripts/build.sh >/dev/null

export ULV_WINEPREFIX="${ULV_WINEPREFIX:-$root/build/wineprefix}"
. "$root/scripts/xvfb.sh"
start_private_xvfb 130 160
xvfb_pid=$XVFB_PID
trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" >/dev/null 2>&1 || true' EXIT
"$root/tests/wine/wine-run.sh" --prepare
python3 "$root/scripts/main_job.py" "$@"
