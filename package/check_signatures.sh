#!/usr/bin/env bash
# Checks client packages as they ship: each package and every program it
# holds carries an Authenticode signature that verifies against ROOT
# (osslsigncode verify), a changed byte (in the package's cabinet, in the
# middle of a program) breaks it, and the programs hold no debug sections.
# Usage: check_signatures.sh ROOT.pem PACKAGE.msi...
#   With QZ_SIGN_CERT set (make package signed with that certificate), the
#   root is QZ_SIGN_CA (default: the system's) instead of ROOT.pem.
set -euo pipefail
[[ $# -ge 2 ]] || { echo "usage: check_signatures.sh ROOT.pem PACKAGE.msi..." >&2; exit 2; }
ca=$1
shift
[[ -z ${QZ_SIGN_CERT:-} ]] || ca=${QZ_SIGN_CA:-/etc/ssl/certs/ca-certificates.crt}
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
failed=0
fail() { echo "check_signatures.sh: $*" >&2; failed=1; }

verifies() { osslsigncode verify -CAfile "$ca" -in "$1" >"$work/verify.log" 2>&1; }
# A copy of FILE with the byte at OFFSET inverted, as $work/changed.
changed() {
  cp -- "$1" "$work/changed"
  python3 -c 'import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(int(sys.argv[2])); byte = f.read(1); f.seek(int(sys.argv[2])); f.write(bytes([byte[0] ^ 0xFF]))' \
    "$work/changed" "$2"
}
# Signed, verified, and broken by the change at OFFSET.
check_file() {
  local file=$1 offset=$2 what=$3
  if ! verifies "$file"; then
    fail "$what does not verify:"
    tail -5 "$work/verify.log" >&2
    return
  fi
  changed "$file" "$offset"
  if verifies "$work/changed"; then fail "$what still verifies with byte $offset changed"; fi
  echo "signed, and a changed byte is caught: $what"
}

for msi in "$@"; do
  msi=$(realpath "$msi")
  # A byte of the embedded cabinet, past its header: the programs' bytes.
  cabinet=$(python3 -c 'import sys; print(open(sys.argv[1], "rb").read().find(b"MSCF"))' "$msi")
  if ((cabinet < 0)); then fail "$msi holds no cabinet"; continue; fi
  check_file "$msi" $((cabinet + 4096)) "$(basename "$msi")"
  rm -rf -- "$work/files"
  mkdir -p "$work/files"
  (cd "$work/files" && msiextract "$msi" >/dev/null)
  programs=0
  while IFS= read -r -d '' program; do
    programs=$((programs + 1))
    name="$(basename "$msi"): ${program#"$work/files/"}"
    check_file "$program" $(($(stat -c %s "$program") / 2)) "$name"
    if x86_64-w64-mingw32-objdump -h "$program" | grep -q ' \.debug_'; then fail "$name holds debug sections"; fi
  done < <(find "$work/files" -type f \( -name '*.exe' -o -name '*.dll' \) -print0)
  ((programs > 0)) || fail "no program could be taken out of $msi"
done
exit $failed
