#!/usr/bin/env bash
# Update size and the time to apply it, on releases generated here as a
# publisher's builds change: text and code with small edits, a line-ending
# change across many files, a large binary with scattered changes, and a
# release of thousands of small files (edits, additions, removals). Each is
# published with the release build of qzpublish (whole-file patch and delta
# archive) and compared with `zstd --patch-from -19 --long=31` on the same
# changed files (plain `zstd -19` for a new file); then applied under Wine to
# a copy of the old release, through the delta archive and by unpacking the
# whole-file patch, RUNS times each (medians), every file of the result
# compared with the new release. Usage: delta_bench.sh X64_BUILD SUMMARY [RUNS]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
x64=$1
summary=$2
runs=${3:-3}
qzpublish=$x64/qzpublish/qzpublish
data=$x64/bench-data/delta
cases=(text crlf binary many)
rm -rf "$data" && mkdir -p "$data"

python3 - "$data" <<'PY'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(7)
def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
words = ("int void return if else for while auto const static struct class namespace std string vector "
         "size index count value result error file name path buffer offset length player level score "
         "texture sound update render frame delta time state next prev node list map key data").split()
def code_line():
    indent = "  " * rnd.randint(0, 4)
    n = rnd.randint(2, 9)
    return indent + " ".join(rnd.choice(words) for _ in range(n)) + rnd.choice([";", " {", "", " }", ");"]) + "\n"
def code_file(size):
    out = []
    while sum(map(len, out)) < size:
        out.append(code_line())
    return "".join(out)
def edit(text, edits):
    lines = text.splitlines(keepends=True)
    for _ in range(edits):
        k = rnd.randrange(len(lines))
        action = rnd.random()
        if action < 0.5:
            lines[k] = code_line()
        elif action < 0.8:
            lines.insert(k, code_line())
        else:
            del lines[k]
    return "".join(lines)
# Text and code with small edits: 400 files, 40 edited in a few places.
for i in range(400):
    body = code_file(rnd.randint(2000, 30000))
    name = f"src/{['core', 'ui', 'net', 'game'][i % 4]}/file{i:03}.cpp"
    put(f"{root}/text/old/{name}", body.encode())
    put(f"{root}/text/new/{name}", (edit(body, rnd.randint(1, 6)) if i % 10 == 3 else body).encode())
# A line-ending change across many files: 300 scripts, every line now ends in CRLF.
for i in range(300):
    body = code_file(rnd.randint(1000, 20000))
    put(f"{root}/crlf/old/scripts/s{i:03}.lua", body.encode())
    put(f"{root}/crlf/new/scripts/s{i:03}.lua", body.replace("\n", "\r\n").encode())
# A large binary with scattered changes: 64 MiB of records (half random,
# half structured), 300 small changes, a 100 KB insertion and a moved 1 MiB block.
records = bytearray()
while len(records) < 64 << 20:
    records += rnd.randbytes(32) + (b"%08d" % rnd.randrange(10**8)) * 4
old = bytes(records[:64 << 20])
new = bytearray(old)
for _ in range(300):
    at = rnd.randrange(len(new) - 64)
    new[at:at + rnd.randint(1, 64)] = rnd.randbytes(rnd.randint(1, 64))
new[1 << 20:1 << 20] = rnd.randbytes(100_000)
block = new[30 << 20:31 << 20]
del new[30 << 20:31 << 20]
new[50 << 20:50 << 20] = block
put(f"{root}/binary/old/data/world.pak", old)
put(f"{root}/binary/new/data/world.pak", bytes(new))
# A release of thousands of files: 4000 small ones in 80 folders; 400
# edited, 300 new, 200 removed.
for i in range(4000):
    body = code_file(rnd.randint(300, 6000))
    name = f"assets/{i % 80:02}/item{i:04}.txt"
    put(f"{root}/many/old/{name}", body.encode())
    if i % 20 == 7:
        continue  # removed
    put(f"{root}/many/new/{name}", (edit(body, rnd.randint(1, 3)) if i % 10 == 1 else body).encode())
for i in range(300):
    put(f"{root}/many/new/assets/new/{i:03}.txt", code_file(rnd.randint(300, 6000)).encode())
PY

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for case in "${cases[@]}"; do
  dir=$data/$case
  start=$(date +%s.%N)
  "$qzpublish" patch "$dir/old" "$dir/new" "$dir/patch.zip" --from 1 --to 2 >"$dir/publish.log"
  publish_s=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
  zip_bytes=$(stat -c %s "$dir/patch.zip")
  delta_bytes=0
  [[ -f $dir/patch.qzd ]] && delta_bytes=$(stat -c %s "$dir/patch.qzd")
  # What a player downloads: the delta archive, or the patch when none was written.
  update_bytes=$((delta_bytes > 0 ? delta_bytes : zip_bytes))
  zstd_bytes=0
  while IFS= read -r -d '' f; do
    rel=${f#"$dir/new/"}
    if [[ -f $dir/old/$rel ]]; then
      cmp -s "$f" "$dir/old/$rel" && continue
      n=$(zstd -q -19 --long=31 --patch-from="$dir/old/$rel" -c "$f" 2>/dev/null | wc -c)
    else
      n=$(zstd -q -19 -c "$f" | wc -c)
    fi
    zstd_bytes=$((zstd_bytes + n))
  done < <(find "$dir/new" -type f -print0)
  # Applying: each way on a fresh copy of the old release, under Wine; the
  # result must be the new release, every file of it.
  delta_ms=() whole_ms=() peaks=() sha_ms=()
  for ((r = 0; r < runs; r++)); do
    for mode in delta whole; do
      [[ $mode == delta && $delta_bytes == 0 ]] && continue
      rm -rf "$dir/game" && cp -r "$dir/old" "$dir/game"
      archive=$([[ $mode == delta ]] && echo patch.qzd || echo patch.zip)
      out=$("$here/../tools/winerun" --build "$x64" "$x64/bin/delta_bench_win.exe" "$mode" \
        "D:\\bench-data\\delta\\$case\\$archive" "D:\\bench-data\\delta\\$case\\game" 2>&1 | tr -d '\r')
      ms=$(sed -n 's/^ms=//p' <<<"$out")
      [[ -n $ms ]] || { echo "$out" >&2; exit 1; }
      # Folders the old release had and the new one dropped may stay when
      # not empty; files never differ.
      if ! diff -rq "$dir/game" "$dir/new" >"$dir/diff.txt" 2>&1; then
        if grep -v '^Only in .*: [^.]*$' "$dir/diff.txt" | grep -q .; then
          echo "  $case: the $mode result differs from the new release:" >&2
          head -5 "$dir/diff.txt" >&2
          exit 1
        fi
      fi
      if [[ $mode == delta ]]; then
        delta_ms+=("$ms")
        peaks+=("$(sed -n 's/^grown_private_mb=//p' <<<"$out")")
        sha_ms+=("$(sed -n 's/^sha_ms=//p' <<<"$out")")
      else
        whole_ms+=("$ms")
      fi
    done
  done
  rm -rf "$dir/game"
  whole=$(printf '%s\n' "${whole_ms[@]}" | median)
  if [[ $delta_bytes -gt 0 ]]; then
    delta=$(printf '%s\n' "${delta_ms[@]}" | median)
    peak=$(printf '%s\n' "${peaks[@]}" | median)
    sha=$(printf '%s\n' "${sha_ms[@]}" | median)
  else
    delta=$whole peak=- sha=0
  fi
  printf '%-7s patch %10d B, delta %10s B, zstd -19 --long %10d B: update/zstd %.3f; published in %s s; apply under Wine: delta %7.0f ms (SHA-256 alone %5.0f ms), unpack %7.0f ms, speed %.2f x; private memory %s MiB\n' \
    "$case" "$zip_bytes" "$([[ $delta_bytes -gt 0 ]] && echo "$delta_bytes" || echo none)" "$zstd_bytes" \
    "$(awk -v a="$update_bytes" -v b="$zstd_bytes" 'BEGIN { print a / b }')" "$publish_s" \
    "$delta" "$sha" "$whole" "$(awk -v a="$delta" -v b="$whole" 'BEGIN { print b / a }')" "$peak"
  [[ $delta_bytes -gt 0 ]] || echo "        no delta archive: $(sed -n 's/^no delta archive: //p' "$dir/publish.log")"
  {
    awk -v a="$update_bytes" -v b="$zstd_bytes" -v c="$case" 'BEGIN { printf "delta.%s.size_zstd=%.3f\n", c, a / b }'
    awk -v a="$delta" -v b="$whole" -v c="$case" 'BEGIN { printf "delta.%s.speed_unpack=%.2f\n", c, b / a }'
    awk -v a="$sha" -v b="$delta" -v c="$case" 'BEGIN { printf "delta.%s.sha_share=%.2f\n", c, a / b }'
    echo "delta.$case.peak_private=$peak"
  } >>"$summary"
done
rm -rf "$data"
