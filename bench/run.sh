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
all=(zip download resume huge cap mirrors service rights delta)
# Each section adds its key figures here; the run ends with them in one table.
export QZ_BENCH_SUMMARY=$build/bench-summary.txt
: >"$QZ_BENCH_SUMMARY"

# The zip reader, native and x64 under Wine, against Info-ZIP unzip and the
# raw inflate bound. Workloads live in the x64 tree, where Wine sees them.
section_zip() {
  cmake --build "$x64" --target zip_bench -j2 >/dev/null
  "$here/zip_bench.sh" --source "$src" --build "$build/bench-release" --data "$x64/bench-data/zip" \
    --wine "$x64" --runs "$runs" --summary "$QZ_BENCH_SUMMARY"
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

# A 6 GiB download: ended once, resumed, cut twice past 4 GiB, its hash
# checked; peak memory against a 100 MB one.
section_huge() {
  cmake --build "$x64" --target download_bench_win -j2 >/dev/null
  "$here/download_bench.sh" "$x64" 400 1 huge
}

# The player's rate cap at 1, 10 and 50 MB/s: the average against the cap.
section_cap() {
  cmake --build "$x64" --target download_bench_win -j2 >/dev/null
  "$here/download_bench.sh" "$x64" 400 1 cap
}

# Its own host stopped, the file from two mirrors (a normal one first, then
# one capped at 2 MB/s), against the normal host alone.
section_mirrors() {
  cmake --build "$x64" --target download_bench_win -j2 >/dev/null
  "$here/download_bench.sh" "$x64" 400 "$runs" mirrors
}

# The maintenance service's download (the worker over WinHTTP, no page)
# against its client alone and a bare WinINet loop.
section_service() {
  cmake --build "$x64" --target download_bench_win service_bench_win -j2 >/dev/null
  "$here/download_bench.sh" "$x64" 400 "$runs" service
}

# The rights check before an upgrade writes (every replaced file asked for)
# against opening the same files once, under Wine, medians of the runs.
section_rights() {
  cmake --build "$x64" --target rights_bench -j2 >/dev/null
  local data=$x64/bench-data/rights out replaced=() news=() opens=() i
  for ((i = 0; i < runs; i++)); do
    rm -rf "$data" && mkdir -p "$data"
    out=$("$src/tools/winerun" --build "$x64" --fresh "$x64/bin/rights_bench.exe" 'D:\bench-data\rights' 5000 | tr -d '\r')
    replaced+=("$(sed -n 's/^replaced=//p' <<<"$out")")
    news+=("$(sed -n 's/^new=//p' <<<"$out")")
    opens+=("$(sed -n 's/^opens=//p' <<<"$out")")
  done
  rm -rf "$data"
  local median_replaced median_new median_opens
  median_replaced=$(printf '%s\n' "${replaced[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")
  median_new=$(printf '%s\n' "${news[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")
  median_opens=$(printf '%s\n' "${opens[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")
  echo "5000 replaced files: check ${median_replaced} ms, opening each once ${median_opens} ms; 5000 new files in a new folder: ${median_new} ms"
  awk -v r="$median_replaced" -v o="$median_opens" 'BEGIN { printf "rights.replaced_opens=%.2f\n", r / o }' >>"$QZ_BENCH_SUMMARY"
}

# Update size: the delta archive against zstd --patch-from -19 --long=31 for
# four kinds of release, and the time and memory of applying it under Wine
# against unpacking the whole-file patch, medians of the runs.
section_delta() {
  cmake --build "$x64" --target delta_bench_win qz_publish_host -j2 >/dev/null
  "$here/delta_bench.sh" "$x64" "$QZ_BENCH_SUMMARY" "$runs"
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

# The figures that matter to players, side by side from this run, with their goals.
summary_row() {  # NAME GOAL TEXT
  local value
  value=$(sed -n "s/^$1=//p" "$QZ_BENCH_SUMMARY" | tail -1)
  [[ -n $value ]] && printf '  %-58s %8s   %s\n' "$3" "$value" "$2"
  return 0
}
if [[ -s $QZ_BENCH_SUMMARY ]]; then
  echo "== summary (this run) =="
  printf '  %-58s %8s   %s\n' measure value goal
  summary_row zip.small.ours_unzip "" "5000 small files: ours/unzip, native"
  summary_row zip.small.ours_bound "" "5000 small files: ours/zlib bound, native"
  summary_row zip.small.wine_native "<= 4" "5000 small files: Wine/native"
  summary_row zip.many.ours_unzip "<= 1.0" "20,000 small files: ours/unzip, native"
  summary_row zip.many.wine_native "" "20,000 small files: Wine/native"
  summary_row zip.large.ours_unzip "" "400 MB deflated: ours/unzip, native"
  summary_row zip.large.ours_bound "<= 1.1" "400 MB deflated: ours (2 threads)/zlib bound, native"
  summary_row zip.large.one_bound "" "400 MB deflated: ours (1 thread)/zlib bound, native"
  summary_row zip.large.wine_native "<= 1.2" "400 MB deflated: Wine/native"
  summary_row zip.large.wine_two_one "" "400 MB deflated under Wine: 2 threads/1 thread"
  summary_row zip.large-stored.ours_bound "" "400 MB stored: ours (2 threads)/bound, native"
  summary_row zip.large64.mbps_plain "~ 1.0" "400 MB deflated, zip64 form: MB/s against plain, native"
  summary_row zip.huge.mbps_plain "~ 1.0" "5 GiB zip64 entry: MB/s against 400 MB plain, native"
  summary_row zip.huge.ours_unzip "" "5 GiB zip64 entry: ours/unzip, native"
  summary_row zip.large-stored.wine_two_one "" "400 MB stored under Wine: 2 threads/1 thread"
  summary_row dl.worker_bare ">= 0.7" "download under Wine: worker with the wizard/bare loop"
  summary_row dl.worker_bare1m "" "download under Wine: worker/bare loop with 1 MiB reads"
  summary_row dl.worker_mbps ">= 200" "download under Wine: worker MB/s on loopback"
  summary_row dl.hashed_plain ">= 0.9" "download checking SHA-256/without, Wine (or the hash bound)"
  summary_row dl.hashed_sha "" "download checking SHA-256/SHA-256 alone, Wine"
  summary_row dl.huge_completed "1" "6 GiB download ended, resumed, cut twice past 4 GiB"
  summary_row dl.huge_peak_over_small "<= 8" "6 GiB download: peak MiB over a 100 MB one's"
  for c in 1 10 50; do
    summary_row "dl.cap$c" "0.9-1.1" "download under a $c MB/s cap: average/cap"
  done
  summary_row dl.mirrors_alone "<= 1.2" 'own host stopped, from mirrors/the normal host alone'
  summary_row dl.service_winhttp ">= 0.9" "download under Wine: the service's worker/its WinHTTP client alone"
  summary_row dl.service_mbps "" "download under Wine: the service's MB/s on loopback (Wine's WinHTTP)"
  summary_row zip.large.peak "< 24" "peak memory MiB: extraction, native"
  summary_row zip.large.peak_wine "< 24" "peak memory MiB: extraction under Wine"
  summary_row dl.peak_worker "< 24" "peak memory MiB: download worker and wizard under Wine"
  summary_row dl.peak_bare "" "peak memory MiB: bare WinINet loop under Wine"
  summary_row rights.replaced_opens "<= 3" "rights check of 5000 replaced files/opening them, Wine"
  for c in text crlf binary many; do
    summary_row "delta.$c.size_zstd" "<= 1.1" "update $c: download/zstd --patch-from -19 --long=31"
    summary_row "delta.$c.speed_unpack" ">= 0.5" "update $c: applying the delta/unpacking, speed, Wine"
    summary_row "delta.$c.sha_share" "" "update $c: share of applying that SHA-256 alone takes"
    summary_row "delta.$c.peak_private" "<= 16" "update $c: private memory MiB applying (base mapped)"
  done
fi
