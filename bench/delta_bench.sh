#!/usr/bin/env bash
# Update size and the time to apply it: three publisher-style changes, each
# published with the native qzpublish (whole-file patch and delta archive),
# against `zstd --patch-from` on the same file pairs; then each applied to a
# copy of the old release under Wine, through the delta archive and by
# unpacking the whole-file patch. Usage: delta_bench.sh X64_BUILD SUMMARY
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
x64=$1
summary=$2
qzpublish=$x64/qzpublish/qzpublish
data=$x64/bench-data/delta
rm -rf "$data" && mkdir -p "$data"

python3 - "$data" <<'PY'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(7)
def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
# One byte changed in a 50 MB file.
big = os.urandom(50_000_000)
put(f"{root}/byte/old/data/level.pak", big)
put(f"{root}/byte/new/data/level.pak", big[:25_000_000] + bytes([big[25_000_000] ^ 1]) + big[25_000_001:])
# 5 of 500 files changed (100 KB each, a few bytes in each of the five).
for i in range(500):
    body = os.urandom(100_000)
    put(f"{root}/files/old/data/f{i:03}.dat", body)
    if i % 100 == 3:
        b = bytearray(body)
        for k in range(0, len(b), 20_000):
            b[k] ^= 0xFF
        body = bytes(b)
    put(f"{root}/files/new/data/f{i:03}.dat", body)
# A 200 MB file rewritten: its 1 MiB blocks in another order and one byte in
# every 4 KiB changed, as a re-encoding that keeps most content does.
old = os.urandom(200 << 20)
blocks = [bytearray(old[i:i + (1 << 20)]) for i in range(0, len(old), 1 << 20)]
rnd.shuffle(blocks)
for b in blocks:
    for k in range(0, len(b), 4096):
        b[k] ^= 0x5A
put(f"{root}/reencode/old/movie.bin", old)
put(f"{root}/reencode/new/movie.bin", b"".join(bytes(b) for b in blocks))
PY

median() { sort -g | sed -n "$((($(wc -l) + 1) / 2))p"; }
for case in byte files reencode; do
  dir=$data/$case
  "$qzpublish" patch "$dir/old" "$dir/new" "$dir/patch.zip" >"$dir/publish.log"
  zip_bytes=$(stat -c %s "$dir/patch.zip")
  delta_bytes=$(stat -c %s "$dir/patch.qzd")
  zstd_bytes=0
  while IFS= read -r -d '' f; do
    rel=${f#"$dir/new/"}
    cmp -s "$f" "$dir/old/$rel" && continue
    zstd -q -f --patch-from="$dir/old/$rel" "$f" -o "$dir/z.zst" 2>/dev/null
    zstd_bytes=$((zstd_bytes + $(stat -c %s "$dir/z.zst")))
  done < <(find "$dir/new" -type f -print0)
  rm -f "$dir/z.zst"
  # Applying: each way on a fresh copy of the old release, under Wine.
  declare -a delta_ms=() whole_ms=() peaks=()
  for mode in delta whole; do
    rm -rf "$dir/game" && cp -r "$dir/old" "$dir/game"
    archive=$([[ $mode == delta ]] && echo patch.qzd || echo patch.zip)
    out=$("$here/../tools/winerun" --build "$x64" "$x64/bin/delta_bench_win.exe" "$mode" \
      "D:\\bench-data\\delta\\$case\\$archive" "D:\\bench-data\\delta\\$case\\game" 2>&1 | tr -d '\r')
    ms=$(sed -n 's/^ms=//p' <<<"$out")
    [[ -n $ms ]] || { echo "$out" >&2; exit 1; }
    if [[ $mode == delta ]]; then
      delta_ms=$ms
      peak=$(sed -n 's/^grown_private_mb=//p' <<<"$out")
      cmp -s "$dir/game/$(cd "$dir/new" && find . -type f | head -1)" "$dir/new/$(cd "$dir/new" && find . -type f | head -1)" ||
        echo "  (the delta's result differs from the new release)" >&2
    else
      whole_ms=$ms
    fi
  done
  rm -rf "$dir/game"
  printf '%-9s whole-file patch %11d B, delta archive %9d B, zstd --patch-from %9d B (%.3f x); apply under Wine: delta %7.0f ms, unpack %7.0f ms (speed %.2f x); private memory grown %s MiB\n' \
    "$case" "$zip_bytes" "$delta_bytes" "$zstd_bytes" "$(awk -v a="$delta_bytes" -v b="$zstd_bytes" 'BEGIN { print a / b }')" \
    "$delta_ms" "$whole_ms" "$(awk -v a="$delta_ms" -v b="$whole_ms" 'BEGIN { print b / a }')" "$peak"
  {
    awk -v a="$delta_bytes" -v b="$zstd_bytes" -v c="$case" 'BEGIN { printf "delta.%s.size_zstd=%.3f\n", c, a / b }'
    awk -v a="$delta_ms" -v b="$whole_ms" -v c="$case" 'BEGIN { printf "delta.%s.speed_unpack=%.2f\n", c, b / a }'
    echo "delta.$case.peak_private=$peak"
  } >>"$summary"
done
rm -rf "$data"
