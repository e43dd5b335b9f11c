#!/usr/bin/env bash
# Runs one fuzz target.
#   fuzz.sh replay FUZZER SEED_DIR WORK_DIR
#       runs every committed seed (and the seeds a target makes in code) once:
#       deterministic, for the test suite;
#   fuzz.sh run FUZZER SEED_DIR WORK_DIR SECONDS
#       fuzzes for SECONDS, keeping the corpus it grows in WORK_DIR;
#   fuzz.sh all SECONDS SEED_ROOT WORK_ROOT FUZZER...
#       runs each FUZZER for SECONDS (its seeds and work in SEED_ROOT/<name>
#       and WORK_ROOT/<name>), every one to the end even when one finds a
#       fault, then names the ones that did and fails.
set -euo pipefail
if [[ ${1:-} == all ]]; then
  seconds=$2 seedroot=$3 workroot=$4
  shift 4
  failed=()
  for fuzzer in "$@"; do
    name=$(basename "$fuzzer")
    echo "fuzz: $name for $seconds s"
    "$0" run "$fuzzer" "$seedroot/$name" "$workroot/$name" "$seconds" || failed+=("$name")
  done
  if ((${#failed[@]})); then
    echo "fuzz: faults found by ${failed[*]} (the crashing input is in the current folder, crash-*)" >&2
    exit 1
  fi
  echo "fuzz: all $# targets ran to the end"
  exit 0
fi
mode=$1 fuzzer=$2 seeds=$3 work=$4 seconds=${5:-60}
common=(-timeout=10 -rss_limit_mb=2048)
case $mode in
  replay)
    # A fresh folder, so only the seeds run, never what earlier fuzzing grew.
    rm -rf "$work/replay"
    mkdir -p "$work/replay"
    args=("$work/replay")
    [[ -d $seeds ]] && args+=("$seeds")
    exec "$fuzzer" -runs=0 "${common[@]}" "${args[@]}"
    ;;
  run)
    mkdir -p "$work/grown"
    args=("$work/grown")
    [[ -d $seeds ]] && args+=("$seeds")
    exec "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 "${common[@]}" "${args[@]}"
    ;;
  *)
    echo "usage: fuzz.sh replay|run FUZZER SEED_DIR WORK_DIR [SECONDS]" >&2
    exit 2
    ;;
esac
