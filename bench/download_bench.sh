#!/usr/bin/env bash
# Download throughput: the launcher's worker (WinINet under Wine, reads sized
# to the link, the wizard showing the newest figures every 100 ms) against a
# bare WinINet loop (65535-byte reads, and 1 MiB ones) and curl, from a local
# server, alternating, medians of RUNS runs. Rates are the download's own
# (the worker's from its log), without the wizard's start and close.
# With QZ_BENCH_SUMMARY set to a file, the key figures are added to it as
# name=value lines.
# With "resume" as the fourth argument it measures only a download cut three
# times at random points (each cut resumed with Range after the first pause)
# against the same download uncut.
# With "huge" it downloads a 6 GiB file (sparse on the server's side, zeros)
# with its SHA-256 checked: the launcher is ended at 3 GiB and started again,
# and the server cuts the second run twice past 4 GiB; the peak memory is
# compared with a 100 MB download's.
# With "cap" it downloads under the player's rate cap at 1, 10 and 50 MB/s.
# With "mirrors" the file's own host is stopped and two mirrors hold it, a
# normal one and one capped at 2 MB/s, against the normal host alone.
# With "service" the maintenance service's download path (the worker over
# WinHTTP, no page) against the WinHTTP client alone and a bare WinINet loop.
# Usage: download_bench.sh X64_BUILD_DIR [SIZE_MB] [RUNS] [resume|huge|cap|mirrors|service]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
x64=$(cd "$1" && pwd)
size_mb=${2:-400}
runs=${3:-3}
data=$x64/bench-data/download
mkdir -p "$data/www" "$data/out"
big=$data/www/big.bin
small=$data/www/small.bin
if [[ ! -f $big || $(stat -c %s "$big") -ne $((size_mb << 20)) ]]; then
  echo "download bench: making a ${size_mb} MB file"
  head -c "$((size_mb << 20))" /dev/urandom >"$big"
fi
[[ -f $small ]] || head -c "$((100 << 20))" /dev/urandom >"$small"
big_sha=$(sha256sum "$big" | cut -d' ' -f1)

rm -f "$data/port"  # a port file left by an earlier run must not be taken for this server's
python3 "$here/../tools/testserver.py" --root "$data/www" --port-file "$data/port" >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true; rm -f "$data/port"' EXIT
for _ in $(seq 100); do [[ -s $data/port ]] && break; sleep 0.05; done
port=$(cat "$data/port")
url=http://127.0.0.1:$port

win() {
  "$here/../tools/winerun" --build "$x64" "$x64/bin/download_bench_win.exe" "$@" 2>/dev/null | tr -d '\r'
}
field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

out_dos="D:\\${data#"$x64"/}\\out"
out_dos=${out_dos//\//\\}

summary() { [[ -z ${QZ_BENCH_SUMMARY:-} ]] || echo "$1" >>"$QZ_BENCH_SUMMARY"; }

if [[ ${4:-} == huge ]]; then
  huge=$data/www/huge.bin
  size=$((6 << 30))
  [[ -f $huge && $(stat -c %s "$huge") -eq $size ]] || { rm -f "$huge"; truncate -s "$size" "$huge"; }
  huge_sha=$(python3 -c "
import hashlib
h = hashlib.sha256(); z = bytes(1 << 24)
for _ in range($size >> 24): h.update(z)
print(h.hexdigest())")
  rm -f "$data/out/"*
  # The first GET is whole (its cut is at the end), the launcher ends at 3 GiB;
  # the second run's first two GETs are cut at 4.5 and 5.2 GB.
  cut_url="$url/~cut=$size,4500000000,5200000000/huge.bin"
  first=$(QZ_EXIT_AT=$((3 << 30)) win worker-hashed "$cut_url" "$out_dos" "$huge_sha" || true)
  echo "first run, ended at 3 GiB: $first"
  second=$(win worker-hashed "$cut_url" "$out_dos" "$huge_sha" || true)
  echo "second run, resumed and cut twice past 4 GiB: $second"
  small_sha=$(sha256sum "$small" | cut -d' ' -f1)
  rm -f "$data/out/"*
  small_run=$(win worker-hashed "$url/small.bin" "$out_dos" "$small_sha")
  rm -f "$data/out/"*
  got=$(echo "$second" | field bytes)
  peak_huge=$(echo "$second" | field peak_mb)
  peak_small=$(echo "$small_run" | field peak_mb)
  echo
  echo "6 GiB download, SHA-256 checked, ended once and cut twice past 4 GiB:"
  echo "  completed: $([[ $got == "$size" ]] && echo yes || echo NO) ($got of $size bytes)"
  echo "  second run $(echo "$second" | field seconds) s; peak working set ${peak_huge} MB, ${peak_small} MB for 100 MB (goal: within 8 MiB)"
  awk -v h="$peak_huge" -v s="$peak_small" 'BEGIN { printf "dl.huge_peak_over_small=%.1f\n", h - s }' | while read -r l; do summary "$l"; done
  summary "dl.huge_completed=$([[ $got == "$size" ]] && echo 1 || echo 0)"
  exit 0
fi

if [[ ${4:-} == mirrors ]]; then
  : >"$data/mirror-results"
  for i in $(seq "$runs"); do
    a=$(win worker "$url/big.bin" "$out_dos"); rm -f "$data/out/"*.bin
    m=$(QZ_MIRRORS="$url/ $url/~rate=2000000/" win worker "http://127.0.0.1:1/big.bin" "$out_dos")
    rm -f "$data/out/"*.bin
    echo "run $i alone: $a"; echo "run $i stopped host, then mirrors: $m"
    echo "alone $a" >>"$data/mirror-results"; echo "mirrors $m" >>"$data/mirror-results"
  done
  alone_s=$(grep '^alone' "$data/mirror-results" | field seconds | median)
  mirrors_s=$(grep '^mirrors' "$data/mirror-results" | field seconds | median)
  echo
  awk -v a="$alone_s" -v m="$mirrors_s" -v mb="$size_mb" 'BEGIN {
    printf "%d MB: the normal host alone %.1f s; its own host stopped, then a normal and a slow mirror %.1f s: %.2fx (goal <= 1.20)\n", mb, a, m, m / a }'
  summary "$(awk -v a="$alone_s" -v m="$mirrors_s" 'BEGIN { printf "dl.mirrors_alone=%.2f", m / a }')"
  exit 0
fi

if [[ ${4:-} == service ]]; then
  svc() {
    "$here/../tools/winerun" --build "$x64" "$x64/bin/service_bench_win.exe" "$@" 2>/dev/null | tr -d '\r'
  }
  : >"$data/service-results"
  for i in $(seq "$runs"); do
    v=$(svc "$url/big.bin" "$out_dos"); rm -f "$data/out/"*.bin
    h=$(svc "$url/big.bin" "$out_dos" bare)
    b=$(win bare "$url/big.bin" "$out_dos"); rm -f "$data/out/"*.bin
    echo "run $i service: $v"; echo "run $i WinHTTP client alone: $h"; echo "run $i WinINet loop: $b"
    { echo "service $v"; echo "winhttp $h"; echo "wininet $b"; } >>"$data/service-results"
  done
  service_mbps=$(grep '^service' "$data/service-results" | field mbps | median)
  winhttp_mbps=$(grep '^winhttp' "$data/service-results" | field mbps | median)
  wininet_mbps=$(grep '^wininet' "$data/service-results" | field mbps | median)
  echo
  awk -v s="$service_mbps" -v h="$winhttp_mbps" -v i="$wininet_mbps" -v mb="$size_mb" 'BEGIN {
    printf "%d MB: the service'"'"'s download %.0f MB/s, the WinHTTP client alone %.0f MB/s (%.2fx), a bare WinINet loop %.0f MB/s\n", mb, s, h, s / h, i }'
  summary "$(awk -v s="$service_mbps" -v h="$winhttp_mbps" 'BEGIN { printf "dl.service_winhttp=%.2f", s / h }')"
  summary "dl.service_mbps=$service_mbps"
  exit 0
fi

if [[ ${4:-} == cap ]]; then
  # A file of about 8 s at each cap (20 s at the lowest), so the start counts little.
  for cap in 1 10 50; do
    mb=$((cap == 1 ? 20 : cap * 8))
    f=$data/www/cap$cap.bin
    [[ -f $f && $(stat -c %s "$f") -eq $((mb << 20)) ]] || head -c "$((mb << 20))" /dev/urandom >"$f"
    r=$(QZ_CAP_KBPS=$((cap * 1024)) win worker "$url/cap$cap.bin" "$out_dos")
    rm -f "$data/out/"*.bin
    got=$(echo "$r" | field mbps)
    echo "cap $cap MB/s on $mb MB: $r"
    awk -v c="$cap" -v g="$got" 'BEGIN { printf "  average %.2f MB/s against the cap: %.3f (goal 0.90 to 1.10)\n", g, g / c }'
    summary "$(awk -v c="$cap" -v g="$got" 'BEGIN { printf "dl.cap%d=%.3f", c, g / c }')"
  done
  win worker "$url/small.bin" "$out_dos" >/dev/null  # and the cap is gone again (no QZ_CAP_KBPS)
  rm -f "$data/out/"*.bin
  exit 0
fi

if [[ ${4:-} == resume ]]; then
  : >"$data/resume-results"
  size=$((size_mb << 20))
  for i in $(seq "$runs"); do
    w=$(win worker "$url/big.bin" "$out_dos"); echo "run $i uncut $w"; echo "uncut $w" >>"$data/resume-results"
    rm -f "$data/out/"*.bin
    cuts=$(for _ in 1 2 3; do echo $(( (RANDOM * 32768 + RANDOM) % size )); done | sort -n | paste -sd,)
    c=$(win worker "$url/~cut=$cuts/big.bin" "$out_dos")
    echo "run $i cut at $cuts: $c"; echo "cut $c" >>"$data/resume-results"
    rm -f "$data/out/"*.bin "$data/out/"*.part "$data/out/"*.tag
  done
  uncut_s=$(grep '^uncut' "$data/resume-results" | field seconds | median)
  cut_s=$(grep '^cut' "$data/resume-results" | field seconds | median)
  failed=$(grep -c 'bytes=0 ' "$data/resume-results" || true)
  echo
  echo "download of ${size_mb} MB cut three times at random points, medians of $runs runs:"
  awk -v u="$uncut_s" -v c="$cut_s" 'BEGIN {
    printf "  uncut %.1f s, cut and resumed %.1f s: %.2fx (goal <= 1.30)\n", u, c, c / u }'
  echo "  runs that did not complete: $failed"
  exit 0
fi
: >"$data/results"
for i in $(seq "$runs"); do
  w=$(win worker "$url/big.bin" "$out_dos"); echo "run $i $w"; echo "$w" >>"$data/results"
  rm -f "$data/out/"*.bin
  h=$(win worker-hashed "$url/big.bin" "$out_dos" "$big_sha"); echo "run $i $h"; echo "$h" >>"$data/results"
  b=$(win bare "$url/big.bin" "$out_dos"); echo "run $i $b"; echo "$b" >>"$data/results"
  rm -f "$data/out/"*.bin
  m=$(QZ_READ=1048576 win bare "$url/big.bin" "$out_dos"); echo "run $i 1MiB $m"; echo "1MiB $m" >>"$data/results"
  rm -f "$data/out/"*.bin
  d=$(win bare-dialog "$url/big.bin" "$out_dos"); echo "run $i $d"; echo "$d" >>"$data/results"
  start=$(date +%s.%N)
  curl -s -o "$data/out/curl.bin" "$url/big.bin"
  c=$(awk -v s="$start" -v e="$(date +%s.%N)" -v b=$((size_mb << 20)) 'BEGIN {printf "curl seconds=%.3f mbps=%.1f", e - s, b / 1048576 / (e - s)}')
  echo "run $i $c"; echo "$c" >>"$data/results"
  rm -f "$data/out/"*.bin
done
small_run=$(win worker "$url/small.bin" "$out_dos"); rm -f "$data/out/"*.bin
probe_run=$(QZ_PROBE=1 win worker "$url/big.bin" "$out_dos"); rm -f "$data/out/"*.bin
echo "probe run $probe_run"

worker_mbps=$(grep '^worker ' "$data/results" | field mbps | median)
hashed_mbps=$(grep '^worker-hashed' "$data/results" | field mbps | median)
bare_mbps=$(grep '^bare ' "$data/results" | field mbps | median)
dialog_mbps=$(grep '^bare-dialog' "$data/results" | field mbps | median)
bare1m_mbps=$(grep '^1MiB' "$data/results" | field mbps | median)
peak_bare=$(grep '^bare ' "$data/results" | field peak_mb | median)
worker_runs=$(grep '^worker ' "$data/results" | field mbps | tr '\n' ' ')
curl_mbps=$(grep '^curl' "$data/results" | field mbps | median)
block=$(echo "$probe_run" | field max_ui_block_ms)
peak_big=$(grep '^worker ' "$data/results" | field peak_mb | median)
peak_small=$(echo "$small_run" | field peak_mb)
echo
echo "download of ${size_mb} MB, medians of $runs runs:"
awk -v w="$worker_mbps" -v b="$bare_mbps" -v m="$bare1m_mbps" -v d="$dialog_mbps" -v c="$curl_mbps" 'BEGIN {
  printf "  worker %.1f MB/s, bare WinINet loop %.1f MB/s (1 MiB reads: %.1f MB/s), curl %.1f MB/s\n", w, b, m, c
  printf "  the bare loop on a thread while a message box is up: %.1f MB/s\n", d
  printf "  worker / bare = %.2f (goal >= 0.70), worker / bare with 1 MiB reads = %.2f, worker / curl = %.2f\n", w / b, w / m, w / c }'
echo "  worker runs (MB/s): $worker_runs"
sha_run=$(win hash "${out_dos}\\..\\www\\big.bin")
sha_mbps=$(echo "$sha_run" | field mbps)
awk -v w="$worker_mbps" -v h="$hashed_mbps" -v s="$sha_mbps" 'BEGIN {
  bound = (s < w) ? "the hash (SHA-256 alone is slower than the download)" : "the download"
  printf "  with SHA-256 / without: %.2f (goal >= 0.90); SHA-256 alone %.1f MB/s, so the bound is %s\n", h / w, s, bound
  printf "  with SHA-256 / SHA-256 alone: %.2f\n", h / s }'
awk -v w="$worker_mbps" -v h="$hashed_mbps" 'BEGIN {
  printf "  worker checking SHA-256 as it downloads: %.1f MB/s, cost %.1f%% of throughput (goal < 5%%)\n", h, (1 - h / w) * 100 }'
echo "  longest the wizard's message loop was blocked during a download: ${block} ms (goal < 100; separate run, probing slows Wine)"
echo "  peak working set: ${peak_big} MB for ${size_mb} MB, ${peak_small} MB for 100 MB (flat in the file size); the bare loop ${peak_bare} MB"
if [[ -n ${QZ_BENCH_SUMMARY:-} ]]; then
  awk -v w="$worker_mbps" -v b="$bare_mbps" -v m="$bare1m_mbps" -v pw="$peak_big" -v pb="$peak_bare" 'BEGIN {
    printf "dl.worker_bare=%.2f\ndl.worker_bare1m=%.2f\ndl.worker_mbps=%.0f\ndl.peak_worker=%.1f\ndl.peak_bare=%.1f\n",
      w / b, w / m, w, pw, pb }' >>"$QZ_BENCH_SUMMARY"
  awk -v w="$worker_mbps" -v h="$hashed_mbps" -v s="$sha_mbps" 'BEGIN {
    printf "dl.hashed_plain=%.2f\ndl.hashed_sha=%.2f\n", h / w, h / s }' >>"$QZ_BENCH_SUMMARY"
fi
