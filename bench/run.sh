#!/usr/bin/env bash
# `make bench`: performance figures, one section per subject. Each section is
# a function section_NAME; add one and list it in `all` to extend the run.
# Usage: bench/run.sh [BUILD_DIR [SECTION...]]   (BUILD_DIR holds host/ and x64/)
#   QZ_BENCH_RUNS  runs per measurement (default 3; medians are reported)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
src=$(cd "$here/.." && pwd)
build=$(cd "${1:-build}" && pwd)
shift || true
x64=$build/x64
runs=${QZ_BENCH_RUNS:-3}
all=(zip download resume)

# The zip reader, native and x64 under Wine, against Info-ZIP unzip and the
# raw inflate bound. Workloads live in the x64 tree, where Wine sees them.
section_zip() {
  cmake --build "$x64" --target zip_bench -j2 >/dev/null
  "$here/zip_bench.sh" --source "$src" --build "$build/bench-release" --data "$x64/bench-data/zip" \
    --wine "$x64" --runs "$runs"
}

# Downloads through the real worker under Wine against a bare WinINet loop and
# curl, from a local server; also the dialog's latency and the memory used.
section_download() {
  cmake --build "$x64" --target download_bench_win -j2 >/dev/null
  "$here/download_bench.sh" "$x64" 400 "$runs"
}

# A download cut three times at random points, resumed, against one uncut.
section_resume() {
  cmake --build "$x64" --target download_bench_win -j2 >/dev/null
  "$here/download_bench.sh" "$x64" 400 "$runs" resume
}

sections=("$@")
[[ ${#sections[@]} -gt 0 ]] || sections=("${all[@]}")
for name in "${sections[@]}"; do
  declare -F "section_$name" >/dev/null || { echo "bench: no section '$name' (have: ${all[*]})" >&2; exit 64; }
done
for name in "${sections[@]}"; do
  echo "== $name =="
  start=$(date +%s)
  "section_$name"
  echo "($name: $(($(date +%s) - start)) s)"
done
