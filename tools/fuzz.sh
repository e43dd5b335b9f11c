#!/usr/bin/env bash
# Runs one fuzz target: replays the committed seeds, then fuzzes for SECONDS
# with a working corpus kept in the build tree.
# Usage: fuzz.sh FUZZER SEED_DIR WORK_DIR SECONDS
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 seconds=${4:-20}
mkdir -p "$work"
args=("$work")
[[ -d $seeds ]] && args+=("$seeds")
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "${args[@]}"
