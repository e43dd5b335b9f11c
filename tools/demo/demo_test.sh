#!/usr/bin/env bash
# The demo's chain as a test: two runs of tools/demo.sh in a throwaway prefix.
#   run 1: nothing installed; the avatar module and the demo game are installed
#          through the wizard and the game starts with the block the page set;
#          then a signed quorlynx: link, opened through the shell, starts the
#          game again with exactly the link's values;
#   run 2: release 102 is published; the game is upgraded through patches 101
#          and 102, the record says 102 and the game starts again.
# Usage: demo_test.sh BUILD_DIR
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tools=$(dirname "$here")
build=$(cd "$1" && pwd)
# shellcheck source=../wine-lib.sh
source "$tools/wine-lib.sh"
qz_wine_env "$build"
qz_ensure_template

prefix=$(qz_fresh_prefix)
work=$(mktemp -d "$build/demo/test.XXXXXX")
cleanup() {
  qz_stop_wine "$prefix"
  qz_remove_prefix "$prefix"
  case $work in "$build"/demo/test.*) rm -rf --one-file-system -- "$work" ;; esac
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
expect_eq() {  # what, expected, actual
  [[ $2 == "$3" ]] || fail "$1: expected '$2', got '$3'"
}

game_dir="$prefix/drive_c/Program Files/Veltoworks/Velto Demo"
# What the game received from one entry of one run, as the demo kept it.
values_file=
value() { tr -d '\r' <"$values_file" | sed -n "s/^$1=//p" | head -1; }
result() { tr -d '\r' <"$work/run-$1/result.txt" | sed -n "s/^$2=//p"; }

# The installation record as the prefix's registry file holds it once Wine has
# been stopped (demo.sh stops it).
record() {  # program, value name
  awk -v key="[Software\\\\\\\\Veltoworks\\\\\\\\$1]" -v name="\"$2\"" '
    index($0, key) == 1 { inside = 1; next }
    /^\[/ { inside = 0 }
    inside && index($0, name "=") == 1 { v = substr($0, length(name) + 2); gsub(/"/, "", v); print v }
  ' "$prefix/system.reg"
}

# What the page sets literally, as control.Name = "value"; lines.
check_block_as_page_set() {
  local line name expected
  while IFS= read -r line; do
    name=$(sed -E 's/^control\.([A-Za-z]+) = "(.*)";.*/\1/' <<<"$line")
    expected=$(sed -E 's/^control\.([A-Za-z]+) = "(.*)";.*/\2/' <<<"$line")
    if [[ $name == Spare ]]; then
      # The launcher splits the start requirement in place before the hand-over.
      expect_eq "Spare handed to the game" "DxMin" "$(value Spare)"
    else
      expect_eq "$name handed to the game" "$expected" "$(value "$name")"
    fi
  done < <(grep -E '^control\.[A-Za-z]+ = ".*";' "$here/demo-page.js")
  local auto
  auto=$(value AutoDownURL)
  [[ $auto =~ ^https://127\.0\.0\.1:[0-9]+/manifests/VeltoDemo\.txt$ ]] || fail "AutoDownURL handed to the game: '$auto'"
  [[ $(value CommonURL) =~ ^https://127\.0\.0\.1:[0-9]+/manifests/VeltoAvatar\.txt$ ]] || fail "CommonURL handed to the game"
}

# What the link carried, NAME=VALUE a line, the download site's address put in.
check_block_as_link_set() {
  local line name expected server
  server=$(value AutoDownURL)
  server=${server%manifests/VeltoDemo.txt}
  [[ $server =~ ^https://127\.0\.0\.1:[0-9]+/$ ]] || fail "AutoDownURL from the link: '$(value AutoDownURL)'"
  while IFS= read -r line; do
    [[ -z $line || $line == \#* ]] && continue
    name=${line%%=*}
    expected=${line#*=}
    expected=${expected//@SERVER@/$server}
    # The launcher splits the start requirement in place before the hand-over.
    [[ $name != Spare ]] || expected=DxMin
    expect_eq "$name from the link" "$expected" "$(value "$name")"
  done <"$here/demo-link-fields.txt"
}

start=$SECONDS
echo "== run 1: first visit, nothing installed"
bash "$tools/demo.sh" --headless --fast --prefix "$prefix" --pictures "$work/run-1" "$build" || fail "run 1 exited with $?"
expect_eq "run 1 launcher exit code" 1 "$(result 1 launcher_exit)"
expect_eq "run 1 game started" 1 "$(result 1 game)"
for step in wait-avatar wait-game wizard-confirm wizard-progress setup-running game; do
  [[ " $(result 1 steps) " == *" $step "* ]] || fail "run 1 did not show step $step"
done
values_file=$work/run-1/page-values.txt
[[ -f $values_file ]] || fail "run 1: the demo game wrote no launch values for the page"
if [[ -f $values_file ]]; then
  expect_eq "run 1 block taken over" ok "$(value block)"
  expect_eq "run 1 release" 100 "$(value release)"
  [[ $(value section) =~ ^KG[0-9]+_[0-9]+$ ]] || fail "run 1: the game's section name '$(value section)'"
  check_block_as_page_set
fi
expect_eq "run 1 recorded version" 100 "$(record VeltoDemo Version)"
expect_eq "run 1 recorded game" 'C:\\Program Files\\Veltoworks\\Velto Demo\\VeltoDemoGame.exe' \
  "$(record VeltoDemo RunFileName)"
expect_eq "run 1 avatar module version" 1 "$(record VeltoAvatar Version)"
[[ -s "$prefix/drive_c/Program Files/Common Files/Veltoworks/Avatar/Mirrafig.dll" ]] ||
  fail "run 1: the avatar module was not installed"
[[ -n $(ls "$work/run-1"/*wizard-confirm*.png 2>/dev/null) ]] || fail "run 1: no picture of the wizard"
expect_eq "run 1 link: launcher exit code" 1 "$(result 1/link launcher_exit)"
expect_eq "run 1 link: game started" 1 "$(result 1/link game)"
values_file=$work/run-1/link-values.txt
[[ -f $values_file ]] || fail "run 1: the demo game wrote no launch values for the link"
if [[ -f $values_file ]]; then
  expect_eq "run 1 link: block taken over" ok "$(value block)"
  check_block_as_link_set
fi
expect_eq "run 1 link: quorlynx: handler" '"C:\\windows\\Quorlynx1.exe" "%1"' \
  "$(awk '/^\[Software\\\\Classes\\\\quorlynx\\\\shell\\\\open\\\\command\]/ { inside = 1; next }
          /^\[/ { inside = 0 } inside && /^@=/ { v = substr($0, 3); gsub(/^"|"$/, "", v); gsub(/\\"/, "\"", v); print v }' \
        "$prefix/system.reg")"

echo "== run 2: release 102 published"
rc=0
bash "$tools/demo.sh" --headless --fast --prefix "$prefix" --pictures "$work/run-2" "$build" >"$work/run-2.out" 2>&1 || rc=$?
cat "$work/run-2.out"
[[ $rc == 0 ]] || fail "run 2 exited with $rc"
grep -q "bytes saved" "$work/run-2.out" || fail "run 2: the upgrade did not go out as delta archives"
expect_eq "run 2 launcher exit code" 1 "$(result 2 launcher_exit)"
steps2=" $(result 2 steps) "
[[ $steps2 == *" wizard-progress "* ]] || fail "run 2 did not upgrade through the wizard"
[[ $steps2 != *" wizard-confirm "* && $steps2 != *" setup-running "* ]] ||
  fail "run 2 asked for or ran a full installation: $steps2"
expect_eq "run 2 wizards (the avatar module is current)" 1 "$(grep -o wizard-progress <<<"$steps2" | wc -l)"
expect_eq "run 2 recorded version" 102 "$(record VeltoDemo Version)"
[[ -f $game_dir/data/news-101.txt && -f $game_dir/data/news-102.txt ]] || fail "run 2: patches not unpacked"
values_file=$work/run-2/page-values.txt
if [[ -f $values_file ]]; then
  expect_eq "run 2 release" 102 "$(value release)"
  expect_eq "run 2 block taken over" ok "$(value block)"
else
  fail "run 2: the demo game was not started"
fi

echo "== the operator's samples"
# The sample page creates the class the control registers.
clsid=$(awk '/uuid\(/ { u = $0 } /coclass/ { print u; exit }' "$tools/../control/tessacom1.idl" |
  sed -E 's/.*uuid\(([0-9A-Fa-f-]+)\).*/\1/')
grep -q "classid=\"clsid:$clsid\"" "$here/portal-sample.html" || fail "the sample page's classid is not $clsid"
# The site-lock sample imports and lists both origins.
cp "$here/trusted-sites.reg" "$work/trusted-sites.reg"
qz_start_wine "$prefix"
WINEPREFIX=$prefix wine regedit /S "$(qz_dos_path "$work/trusted-sites.reg")" </dev/null >/dev/null 2>&1 ||
  fail "trusted-sites.reg does not import"
sites=$(WINEPREFIX=$prefix wine reg query 'HKLM\SOFTWARE\Veltoworks' /v TrustedSites </dev/null 2>/dev/null | tr -d '\r' || true)
[[ $sites == *REG_MULTI_SZ*'https://games.example.jp\0https://*.example.jp'* ]] ||
  fail "TrustedSites after importing the sample: $sites"
# The launcher accepted the demo's manifests with the publisher's key set.
keys=$(WINEPREFIX=$prefix wine reg query 'HKLM\SOFTWARE\Veltoworks' /v ManifestKeys </dev/null 2>/dev/null | tr -d '\r' || true)
public_key=$("$build/qzpublish/qzpublish" pubkey "$build/demo/keys/demo-manifest.key")
[[ $keys == *REG_MULTI_SZ*"$public_key"* ]] || fail "ManifestKeys in the prefix: $keys"

echo "== demo test: $((SECONDS - start)) s, $failures failure(s)"
[[ $failures == 0 ]]
