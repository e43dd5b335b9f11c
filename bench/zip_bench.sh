#!/usr/bin/env bash
# Times the zip reader against Info-ZIP unzip and the raw inflate+CRC bound on
# generated workloads (5000 and 20,000 small files, 400 MB of large ones in
# plain and zip64 form, and, natively and when the disk has room, one zip64
# entry of 5 GiB), alternating the order between runs; prints medians,
# ratios and the reader's peak memory. With --wine it also extracts each
# workload with the x64 build of the reader under Wine (the data folder must
# then lie inside that build tree, which Wine sees as drive D:).
# Large workloads also run on one thread ("ours1" natively, "wine1" under
# Wine), against the two threads the reader uses for large entries. With --summary FILE the key ratios are also
# written there as name=value lines.
# Usage: zip_bench.sh --source SRC --build BUILD_DIR --data DATA_DIR [--runs N] [--wine X64_BUILD_DIR] [--summary FILE]
set -euo pipefail
runs=3
x64=
summary=/dev/null
while [[ $# -gt 0 ]]; do
  case $1 in
    --source) src=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --data) data=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --wine) x64=$(cd "$2" && pwd); shift 2 ;;
    --summary) summary=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 64 ;;
  esac
done
: "${src:?--source}" "${build:?--build}" "${data:?--data}"
mkdir -p "$data"
data=$(cd "$data" && pwd)
tools="ours unzip bound"
if [[ -n $x64 ]]; then
  win_bench=$x64/bin/zip_bench.exe
  [[ -f $win_bench ]] || { echo "zip_bench.sh: build $win_bench first" >&2; exit 1; }
  # Windows path of a file in the x64 build tree, as tools/winerun maps it.
  dos() { (source "$src/tools/wine-lib.sh"; QZ_BUILD=$x64 qz_dos_path "$1"); }
  dos "$data" >/dev/null || exit 1
  tools+=" wine"
fi

cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQZ_SANITIZE=OFF \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null
cmake --build "$build" --target zip_bench -j2 >/dev/null
bench=$build/bin/zip_bench
[[ -x $bench ]] || bench=$(find "$build" -name zip_bench -type f -perm -u+x | head -1)

if [[ ! -f $data/large-stored.zip || ! -f $data/many.zip || ! -f $data/large64.zip ]]; then
  echo "generating workloads in $data ..."
  "$bench" generate "$data"
fi
# The 5 GiB entry is written whole by each run: only with room for it twice
# and a margin (it is never run under Wine).
workloads="small many large large64 large-stored"
free_gib=$(df -Pk "$data" | awk 'NR == 2 {print int($4 / 1048576)}')
if ((free_gib >= 16)); then
  [[ -f $data/huge.zip ]] || { echo "generating the 5 GiB zip64 workload ..."; "$bench" generate-huge "$data"; }
  workloads+=" huge"
else
  echo "zip64 5 GiB workload left out: $free_gib GiB free where 16 are needed"
fi
out=$data/out

now() { date +%s.%N; }
# run TOOL ARCHIVE: prints wall seconds; for ours also records peak KiB and
# the extraction's own time, for wine only the latter (Wine's start-up is not
# the reader's cost) and the peak working set.
run() {
  local tool=$1 archive=$2 t0 t1 report
  rm -rf "$out"; mkdir -p "$out"; sync
  # Thousands of files just removed keep the file system busy for a moment;
  # without the pause the small workload's times scatter by a factor of two.
  if [[ $archive == */small.zip || $archive == */many.zip ]]; then sleep 2; fi
  t0=$(now)
  case $tool in
    ours)
      /usr/bin/time -f '%M %U %S' -o "$data/usage" "$bench" extract "$archive" "$out/" >"$data/report"
      ;;
    ours1) QZ_WRITE_BEHIND=0 "$bench" extract "$archive" "$out/" >"$data/report" ;;
    unzip) unzip -o -q "$archive" -d "$out" ;;
    bound) /usr/bin/time -f '%M %U %S' -o "$data/usage" "$bench" bound "$archive" >/dev/null ;;
    wine | wine1)
      # A fresh prefix starts Wine's services beside the program: the
      # extraction waits them out, to have the machine as on Windows.
      env QZ_SETTLE_MS=2000 QZ_WRITE_BEHIND=$([[ $tool == wine1 ]] && echo 0 || echo 1) \
        "$src/tools/winerun" --build "$x64" --fresh "$win_bench" extract "$(dos "$archive")" "$(dos "$out")\\" \
        </dev/null 2>/dev/null | tr -d '\r' >"$data/report"
      ;;
  esac
  t1=$(now)
  case $tool in
    # "extract 1.234 s peak 5.6 MiB"
    wine | wine1 | ours1) awk '/^extract/ {print $2; exit}' "$data/report" ;;
    *) echo "$t1 - $t0" | bc -l ;;
  esac
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

declare -A times peak
for workload in $workloads; do peak[$workload]=0 peak[$workload.wine]=0; done
# Run-major: a machine whose load drifts during the bench shifts every
# workload of a run alike, so ratios between workloads (zip64 form against
# plain) stay fair.
for ((r = 1; r <= runs; r++)); do
  for workload in $workloads; do
    archive=$data/$workload.zip
    these=$tools
    if [[ $workload == large || $workload == large-stored ]]; then
      these+=" ours1"
      [[ -z $x64 ]] || these+=" wine1"
    fi
    if [[ $workload == huge ]]; then
      ((r == 1)) || continue
      these="ours unzip"
    fi
    if ((r % 2)); then order=$these; else order=$(tr ' ' '\n' <<<"$these" | tac | tr '\n' ' '); fi
    for tool in $order; do
      t=$(run "$tool" "$archive")
      [[ -n $t ]] || { echo "zip_bench.sh: $tool failed on $workload" >&2; exit 1; }
      times[$workload.$tool]+="$t "
      case $tool in
        ours)
          p=$(awk '{print $1}' "$data/usage")
          ((p > peak[$workload])) && peak[$workload]=$p
          times[$workload.inproc]+="$(awk '/^extract/ {print $2; exit}' "$data/report") "
          times[$workload.ours.cpu]+="$(awk '{print $2 + $3}' "$data/usage") "
          ;;
        bound) times[$workload.bound.cpu]+="$(awk '{print $2 + $3}' "$data/usage") " ;;
        wine)
          p=$(awk '/^extract/ {print int($5 * 1024); exit}' "$data/report")
          ((p > peak[$workload.wine])) && peak[$workload.wine]=$p
          ;;
      esac
    done
  done
done
rm -rf "$out"

med() { tr ' ' '\n' <<<"${times[$1]}" | grep . | median; }
# cpu: user+system seconds of ours against the bound's, steadier than wall
# times when the machine is shared; the difference is mostly the kernel's
# copy of the written data into the page cache, which the bound never does.
echo "native: wall seconds, medians of $runs runs"
printf '%-13s %8s %8s %8s %10s %10s %14s %10s %14s\n' workload ours unzip bound ours/unzip ours/bound cpu_ours/bound \
  peak_MiB 1thread/bound
for workload in $workloads; do
  o=$(med "$workload.ours") u=$(med "$workload.unzip")
  if [[ $workload == huge ]]; then
    # Unpacked MB/s of the zip64 entry, against the plain 400 MB archive's.
    mbps=$(echo "5120 / $o" | bc -l) plain=$(echo "400 / $(med large.ours)" | bc -l)
    printf '%-13s %8.3f %8.3f %8s %10.2f   %.0f MB/s unpacked (400 MB plain: %.0f MB/s), peak %.1f MiB\n' "$workload" \
      "$o" "$u" - "$(echo "$o / $u" | bc -l)" "$mbps" "$plain" "$(echo "${peak[$workload]} / 1024" | bc -l)"
    printf 'zip.huge.ours_unzip=%.2f\nzip.huge.mbps_plain=%.2f\n' "$(echo "$o / $u" | bc -l)" \
      "$(echo "$mbps / $plain" | bc -l)" >>"$summary"
    continue
  fi
  b=$(med "$workload.bound")
  oc=$(med "$workload.ours.cpu") bc=$(med "$workload.bound.cpu")
  one=-
  [[ $workload != large && $workload != large-stored ]] || one=$(printf '%.2f' "$(echo "$(med "$workload.ours1") / $b" | bc -l)")
  printf '%-13s %8.3f %8.3f %8.3f %10.2f %10.2f %14.2f %10.1f %14s\n' "$workload" "$o" "$u" "$b" \
    "$(echo "$o / $u" | bc -l)" "$(echo "$o / $b" | bc -l)" "$(echo "$oc / ($bc + 0.001)" | bc -l)" \
    "$(echo "${peak[$workload]} / 1024" | bc -l)" "$one"
  {
    printf 'zip.%s.ours_unzip=%.2f\nzip.%s.ours_bound=%.2f\nzip.%s.peak=%.1f\n' "$workload" "$(echo "$o / $u" | bc -l)" \
      "$workload" "$(echo "$o / $b" | bc -l)" "$workload" "$(echo "${peak[$workload]} / 1024" | bc -l)"
    if [[ $one != - ]]; then printf 'zip.%s.one_bound=%s\n' "$workload" "$one"; fi
  } >>"$summary"
done
# zip64 form against the same entries plain: unpacked MB/s, 1.0 being equal.
printf 'zip.large64.mbps_plain=%.2f\n' "$(echo "$(med large.ours) / $(med large64.ours)" | bc -l)" >>"$summary"
if [[ -n $x64 ]]; then
  echo "x64 under Wine against native: the extraction's own seconds, medians of $runs runs"
  printf '%-13s %8s %8s %12s %10s %22s\n' workload native wine wine/native peak_MiB "wine 2threads/1thread"
  for workload in $workloads; do
    [[ $workload != huge ]] || continue
    n=$(med "$workload.inproc") w=$(med "$workload.wine")
    two=-
    [[ $workload != large && $workload != large-stored ]] || two=$(printf '%.2f' "$(echo "$w / $(med "$workload.wine1")" | bc -l)")
    printf '%-13s %8.3f %8.3f %12.2f %10.1f %22s\n' "$workload" "$n" "$w" "$(echo "$w / $n" | bc -l)" \
      "$(echo "${peak[$workload.wine]} / 1024" | bc -l)" "$two"
    {
      printf 'zip.%s.wine_native=%.2f\nzip.%s.peak_wine=%.1f\n' "$workload" "$(echo "$w / $n" | bc -l)" \
        "$workload" "$(echo "${peak[$workload.wine]} / 1024" | bc -l)"
      if [[ $two != - ]]; then printf 'zip.%s.wine_two_one=%s\n' "$workload" "$two"; fi
    } >>"$summary"
  done
fi
