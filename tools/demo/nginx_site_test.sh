#!/usr/bin/env bash
# nginx-site.sh on its own: a throwaway certificate, a small site, and what
# the launcher needs from every answer; then nothing is left running.
# Usage: nginx_site_test.sh BUILD_DIR
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$build/demo"
work=$(mktemp -d "$build/demo/nginx-test.XXXXXX")
runner=
cleanup() {
  if [[ -n $runner ]]; then kill "$runner" 2>/dev/null || true; wait "$runner" 2>/dev/null || true; fi
  case $work in "$build"/demo/nginx-test.*) rm -rf --one-file-system -- "$work" ;; esac
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
mkdir -p "$work/www/manifests" "$work/www/patch"
printf '[VLTWUpdateFile]\n' >"$work/www/manifests/Game.txt"
head -c 200000 /dev/urandom >"$work/www/patch/P-101.zip"

bash "$here/nginx-site.sh" start "$work/www" "$work/cert.pem" "$work/key.pem" "$work/state" >"$work/url" 2>"$work/err" &
runner=$!
for _ in $(seq 200); do [[ -s $work/url ]] && break; sleep 0.05; done
url=$(cat "$work/url")
[[ $url =~ ^https://127\.0\.0\.1:[0-9]+/$ ]] || { cat "$work/err" >&2; fail "no base address: '$url'"; exit 1; }

head_of() { curl -sS --cacert "$work/cert.pem" -I "$url$1" | tr -d '\r'; }
manifest=$(head_of manifests/Game.txt)
patch=$(head_of patch/P-101.zip)
grep -q '^HTTP/1.1 200' <<<"$manifest" || fail "manifest: $manifest"
grep -qi '^Content-Length: 17$' <<<"$manifest" || fail "manifest length: $manifest"
grep -qi '^Cache-Control: no-cache$' <<<"$manifest" || fail "manifest caching: $manifest"
grep -qi '^Content-Length: 200000$' <<<"$patch" || fail "patch length: $patch"
grep -qi 'Transfer-Encoding' <<<"$patch" && fail "chunked answer: $patch"
[[ $(curl -sS --cacert "$work/cert.pem" -H 'Accept-Encoding: gzip' "$url/patch/P-101.zip" | cmp - "$work/www/patch/P-101.zip" && echo same) == same ]] ||
  fail "the patch arrives changed"
[[ $(curl -s -o /dev/null -w '%{http_code}' --cacert "$work/cert.pem" "${url}../key.pem") == 404 ]] || fail "a path climbs out"
[[ $(curl -s -o /dev/null -w '%{http_code}' "http://${url#https://}manifests/Game.txt" || true) != 200 ]] ||
  fail "plain http served the manifest"

master=$(cat "$work/state/nginx.pid")
bash "$here/nginx-site.sh" stop "$work/state" || fail "stop"
wait "$runner" 2>/dev/null || true
runner=
kill -0 "$master" 2>/dev/null && fail "nginx still runs after stop"

echo "== nginx site test: $failures failure(s)"
[[ $failures == 0 ]]
