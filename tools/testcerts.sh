#!/usr/bin/env bash
# Makes the test certificates in DIR (inside a build tree), or renews what is
# missing or expires soon (roots within 10 days, the others within 5).
# Nothing here is ever committed.
#   ca.pem ca.der ca.fp   the test root that every test prefix trusts (90 days)
#   server.pem/.key       127.0.0.1 and localhost, signed by the root (30 days)
#   other-name.pem/.key   only "other.invalid", signed by the root (served on
#                         127.0.0.1, so the name does not match)
#   unknown-ca.pem/.key   127.0.0.1 and localhost, signed by a second root that
#                         nobody trusts
#   codesign.pem/.key     code signing (Authenticode) for the client packages
#                         the tests install, signed by the root
# Usage: testcerts.sh DIR
set -euo pipefail

dir=${1:?usage: testcerts.sh DIR}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
# Parallel test runs wait here while one of them renews the files.
exec 9>"$dir/.lock"
flock 9
# Quick answer for the usual case, without openssl: every file made recently.
recent() { [[ -n $(find "$dir" -maxdepth 1 -name "$1" -mtime "-$2" 2>/dev/null) ]]; }
if [[ -s $dir/ca.fp ]] && recent ca.pem 80 && recent untrusted-ca.pem 80 && recent server.pem 25 &&
   recent other-name.pem 25 && recent unknown-ca.pem 25 && recent codesign.pem 25; then
  exit 0
fi

# valid FILE DAYS: the certificate is there and still good for DAYS days.
valid() { [[ -s $1 ]] && openssl x509 -checkend $(($2 * 86400)) -noout -in "$1" >/dev/null 2>&1; }

tmp=$(mktemp -d "$dir/.new.XXXXXX")
trap 'rm -rf -- "$tmp"' EXIT

# make_root NAME CN
make_root() {
  openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -keyout "$tmp/$1.key" -out "$tmp/$1.pem" -days 90 -subj "/O=Quorlynx tests/CN=$2" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    >/dev/null 2>&1
  mv -f "$tmp/$1.key" "$tmp/$1.pem" "$dir/"
}

# make_leaf NAME ISSUER COMMON_NAME SUBJECT_ALT_NAMES [EXTENDED_KEY_USAGE]
make_leaf() {
  local name=$1 issuer=$2 cn=$3 san=$4 usage=${5:-serverAuth}
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -keyout "$tmp/$name.key" -out "$tmp/$name.csr" -subj "/O=Quorlynx tests/CN=$cn" >/dev/null 2>&1
  printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$usage" >"$tmp/$name.ext"
  [[ -z $san ]] || printf 'subjectAltName=%s\n' "$san" >>"$tmp/$name.ext"
  openssl x509 -req -in "$tmp/$name.csr" -CA "$dir/$issuer.pem" -CAkey "$dir/$issuer.key" \
    -set_serial "0x$(openssl rand -hex 8)" -days 30 -extfile "$tmp/$name.ext" \
    -out "$tmp/$name.pem" >/dev/null 2>&1
  mv -f "$tmp/$name.key" "$tmp/$name.pem" "$dir/"
}

# The address also as a DNS name, for name checks that only look at those.
local_names="IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost"
if ! valid "$dir/ca.pem" 10 || [[ ! -s $dir/ca.key ]]; then
  make_root ca "Quorlynx test root"
  rm -f "$dir/server.pem" "$dir/other-name.pem" "$dir/codesign.pem"
fi
if ! valid "$dir/untrusted-ca.pem" 10 || [[ ! -s $dir/untrusted-ca.key ]]; then
  make_root untrusted-ca "Quorlynx untrusted root"
  rm -f "$dir/unknown-ca.pem"
fi
valid "$dir/server.pem" 5 || make_leaf server ca 127.0.0.1 "$local_names"
valid "$dir/other-name.pem" 5 || make_leaf other-name ca other.invalid "DNS:other.invalid"
valid "$dir/unknown-ca.pem" 5 || make_leaf unknown-ca untrusted-ca 127.0.0.1 "$local_names"
valid "$dir/codesign.pem" 5 || make_leaf codesign ca "Quorlynx test code signing" "" codeSigning
if [[ ! -s $dir/ca.der || $dir/ca.der -ot $dir/ca.pem ]]; then
  openssl x509 -in "$dir/ca.pem" -outform DER -out "$tmp/ca.der"
  openssl x509 -in "$dir/ca.pem" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g' >"$tmp/ca.fp"
  mv -f "$tmp/ca.der" "$tmp/ca.fp" "$dir/"
fi
