#!/usr/bin/env bash
# Times the zip reader against Info-ZIP unzip and the raw inflate+CRC bound on
# generated workloads, alternating the order between runs; prints medians,
# ratios and the reader's peak memory.
# Usage: zip_bench.sh --source SRC --build BUILD_DIR --data DATA_DIR [--runs N]
set -euo pipefail
runs=3
while [[ $# -gt 0 ]]; do
  case $1 in
    --source) src=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --data) data=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 64 ;;
  esac
done
: "${src:?--source}" "${build:?--build}" "${data:?--data}"

cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQZ_SANITIZE=OFF \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null
cmake --build "$build" --target zip_bench -j2 >/dev/null
bench=$build/bin/zip_bench
[[ -x $bench ]] || bench=$(find "$build" -name zip_bench -type f -perm -u+x | head -1)

if [[ ! -f $data/large-stored.zip ]]; then
  echo "generating workloads in $data ..."
  "$bench" generate "$data"
fi
out=$data/out

now() { date +%s.%N; }
# run TOOL ARCHIVE: prints wall seconds; for ours also records peak KiB
run() {
  local tool=$1 archive=$2 t0 t1
  rm -rf "$out"; mkdir -p "$out"; sync
  t0=$(now)
  case $tool in
    ours) /usr/bin/time -f %M -o "$data/peak" "$bench" extract "$archive" "$out/" >/dev/null ;;
    unzip) unzip -o -q "$archive" -d "$out" ;;
    bound) "$bench" bound "$archive" >/dev/null ;;
  esac
  t1=$(now)
  echo "$t1 - $t0" | bc -l
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

declare -A times peak
for workload in small large large-stored; do
  archive=$data/$workload.zip
  peak[$workload]=0
  for ((r = 1; r <= runs; r++)); do
    if ((r % 2)); then order="ours unzip bound"; else order="bound unzip ours"; fi
    for tool in $order; do
      t=$(run "$tool" "$archive")
      times[$workload.$tool]+="$t "
      if [[ $tool == ours ]]; then
        p=$(cat "$data/peak")
        ((p > peak[$workload])) && peak[$workload]=$p
      fi
    done
  done
done
rm -rf "$out"

printf '%-13s %8s %8s %8s %10s %10s %10s\n' workload ours unzip bound ours/unzip ours/bound peak_MiB
for workload in small large large-stored; do
  o=$(tr ' ' '\n' <<<"${times[$workload.ours]}" | grep . | median)
  u=$(tr ' ' '\n' <<<"${times[$workload.unzip]}" | grep . | median)
  b=$(tr ' ' '\n' <<<"${times[$workload.bound]}" | grep . | median)
  printf '%-13s %8.3f %8.3f %8.3f %10.2f %10.2f %10.1f\n' "$workload" "$o" "$u" "$b" \
    "$(echo "$o / $u" | bc -l)" "$(echo "$o / $b" | bc -l)" "$(echo "${peak[$workload]} / 1024" | bc -l)"
done
