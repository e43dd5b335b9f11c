#!/usr/bin/env bash
# The whole chain, from a page to a started game, in a Wine prefix of its own:
#   - the client installed through its package (make package), as a player's
#     PC gets it: the launcher as C:\windows\Quorlynx1.exe, the control in
#     both widths, the quorlynx: protocol, and as the operator's settings the
#     demo publisher's key (ManifestKeys) and the demo portal's (PortalKeys);
#   - an nginx download site over https on 127.0.0.1 (a free port) publishing
#     the demo game: release 100 when it is not installed yet, else release
#     102 with the patches 101 and 102; its manifests made and signed by
#     qzpublish. Release 102 is applied by the maintenance service the
#     package installed (the player may not change the game: TestNoWriteRights
#     stands in for a standard account); it also lists a second nginx site as
#     a mirror, and the first site is stopped once the service has read the
#     manifest, so the upgrade's files come from the mirror;
#   - the demo page (tools/demo/demo-page.js through cscript) making the calls
#     a portal page makes: Init, the properties, Run;
#   - then the entry of every other browser: a link that qzpublish signs
#     with the portal's key (values from
#     tools/demo/demo-link-fields.txt) opened through the shell's protocol
#     dispatch, the path a browser takes.
# With a display the player clicks; without one (or with --headless) the run
# happens on Xvfb and tools/demo/demo_driver.cpp presses Next and saves a
# picture of every step. Nothing is left running afterwards.
#
# Usage: tools/demo.sh [--headless] [--fast] [--reset] [--prefix DIR] [--pictures DIR] BUILD_DIR
#   --reset         start over: remove the demo's own prefix first
#   --headless      Xvfb and the automatic player even when a display is set
#   --fast          downloads at full speed after a short delay each
#   --prefix DIR    use this prefix below BUILD_DIR/wine (made by the caller)
#                   instead of the demo's own BUILD_DIR/wine/demo
#   --pictures DIR  where the pictures and the run's result go
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
headless=0
fast=0
reset=0
prefix=
pictures=
while [[ $# -gt 0 ]]; do
  case $1 in
    --headless) headless=1; shift ;;
    --fast) fast=1; shift ;;
    --reset) reset=1; shift ;;
    --prefix) prefix=$2; shift 2 ;;
    --pictures) pictures=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "demo: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[[ $# -eq 1 ]] || { echo "usage: tools/demo.sh [--headless] [--fast] [--reset] [--prefix DIR] [--pictures DIR] BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
bin=$build/bin
www=$build/demo/www
qzpublish=$build/qzpublish/qzpublish
key=$build/demo/keys/demo-manifest.key
portal_key=$build/demo/keys/demo-portal.key
certs=$build/testcerts
site_kind=${QZ_DEMO_SITE:-nginx}
package=$(find "$build/package" -maxdepth 1 -name 'Quorlynx-*-x64.msi' 2>/dev/null | sort -V | tail -n 1)
[[ -n $package ]] || { echo "demo: the client package is missing in $build/package; make package builds it" >&2; exit 1; }
for f in "$bin/Quorlynx.exe" "$bin/Tessacom1.dll" "$bin/demo_driver.exe" "$bin/qz_add_test_root.exe" \
         "$www/full/VeltoDemoSetup.exe" "$www/avatar/Mirrafig-1.zip" "$www/patch/VeltoDemo-101.zip" \
         "$www/patch/VeltoDemo-102.zip" "$qzpublish" "$key" "$portal_key" "$certs/server.pem" "$certs/ca.der"; do
  [[ -f $f ]] || { echo "demo: $f is missing; build first (make demo builds it)" >&2; exit 1; }
done
if [[ $site_kind == nginx ]] && ! command -v nginx >/dev/null && [[ ! -x /usr/sbin/nginx ]]; then
  echo "demo: nginx is not installed (tools/deps.sh installs nginx-light); the demo's download site needs it" >&2
  exit 1
fi

user_display=${DISPLAY:-}
# shellcheck source=wine-lib.sh
source "$here/wine-lib.sh"
qz_wine_env "$build"
qz_ensure_template

if [[ -z $prefix ]]; then
  if [[ $reset == 1 ]]; then
    qz_stop_wine "$QZ_WINE_DIR/demo"
    qz_remove_prefix "$QZ_WINE_DIR/demo"
  fi
  prefix=$(qz_named_prefix demo)
else
  prefix=$(cd "$prefix" && pwd)
  case $prefix in "$QZ_WINE_DIR"/*) ;; *) echo "demo: the prefix must lie below $QZ_WINE_DIR" >&2; exit 2 ;; esac
fi
export WINEPREFIX=$prefix

mode=auto
if [[ -n $user_display && $headless == 0 ]]; then mode=watch; else export QZ_FORCE_XVFB=1; fi
[[ -n $pictures ]] || pictures=$build/demo/pictures/$(date +%Y%m%d-%H%M%S)
mkdir -p "$build/demo"
# Windows programs start in the build tree, which they see as drive D:.
cd "$build"
site=$(mktemp -d "$build/demo/site.XXXXXX")

server_pid=
mirror_pid=
stopper_pid=
cleanup() {
  qz_stop_wine "$prefix"
  for pid in $stopper_pid $server_pid $mirror_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  qz_stop_display
  # The published copy only; a plain folder of this run inside the build tree.
  case $site in
    "$build"/demo/site.*)
      rm -rf --one-file-system -- "$site" "$site.nginx" "$site.mirror" && rm -f -- "$site".{verify,url,log,port}
      ;;
  esac
}
trap cleanup EXIT
trap 'exit 130' INT TERM

qz_ensure_display
qz_start_wine "$prefix"
# The download site's certificate is issued by the build tree's test root;
# a prefix made before that root existed learns it here.
if ! wine "$(qz_dos_path "$bin/qz_add_test_root.exe")" "$(qz_dos_path "$certs/ca.der")" </dev/null >/dev/null 2>&1; then
  echo "demo: the test root could not be added to the prefix" >&2
  exit 1
fi

# What a player's PC holds before the portal is visited: the client,
# installed through its package with the operator's settings, the demo
# publisher's key (the launcher then takes only manifests signed with it) and
# the demo portal's (for quorlynx: links). A later run installs the package
# again, which replaces what an earlier one installed.
public_key=$("$qzpublish" pubkey "$key")
portal_public=$("$qzpublish" pubkey "$portal_key")
if ! wine msiexec /i "$(qz_dos_path "$package")" /qn MANIFESTKEYS="$public_key" PORTALKEYS="$portal_public" \
     </dev/null >/dev/null 2>&1; then
  echo "demo: the client package $(basename "$package") could not be installed" >&2
  exit 1
fi
echo "demo: client installed from $(basename "$package")"

installed_version() {
  wine reg query 'HKLM\SOFTWARE\Veltoworks\VeltoDemo' /v Version </dev/null 2>/dev/null |
    tr -d '\r' | awk '$1 == "Version" { print $3 }' || true
}
before=$(installed_version)
if [[ -z $before ]]; then release=100; else release=102; fi
# The launcher's support log in the prefix: what this run adds tells how
# each version came (delta archive or whole-file patch).
support_log() { find "$prefix/drive_c/users" -path '*~qztmp/Quorlynx.log' 2>/dev/null | head -n 1; }
log_lines_before=0
if [[ -n $(support_log) ]]; then log_lines_before=$(wc -l <"$(support_log)"); fi

# The download site and what it publishes: nginx as a portal runs it
# (tools/demo/nginx-site.sh), over https with the build tree's test
# certificate (QZ_DEMO_TLS_CERT and QZ_DEMO_TLS_KEY choose others; the prefix
# trusts the test root), or with QZ_DEMO_SITE=testserver the bundled test
# server over plain http on loopback.
cp -r "$www/." "$site/"
mkdir -p "$site/manifests"
if [[ $site_kind == nginx ]]; then
  # Slowed down so the wizard's progress can be followed.
  rate=200000
  [[ $fast == 0 ]] || rate=1000000
  # The upgrade's first site is slow, so it is stopped while the service
  # still downloads from it, whatever the machine's speed.
  first_rate=$rate
  [[ $release != 102 ]] || first_rate=2000
  bash "$here/demo/nginx-site.sh" start --rate "$first_rate" "$site" "${QZ_DEMO_TLS_CERT:-$certs/server.pem}" \
    "${QZ_DEMO_TLS_KEY:-$certs/server.key}" \
    "$site.nginx" </dev/null >"$site.url" 2>"$site.log" &
  server_pid=$!
  for _ in $(seq 200); do
    [[ -s $site.url ]] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done
  [[ -s $site.url ]] || { echo "demo: the nginx download site did not start" >&2; cat "$site.log" >&2; exit 1; }
  server=$(cat "$site.url")
  rm -f "$site.url" "$site.log"
  files=$server
  if [[ $release == 102 ]]; then
    # A second site with the same files: the release's mirror.
    bash "$here/demo/nginx-site.sh" start --rate "$rate" "$site" "${QZ_DEMO_TLS_CERT:-$certs/server.pem}" \
      "${QZ_DEMO_TLS_KEY:-$certs/server.key}" "$site.mirror" </dev/null >"$site.url" 2>"$site.log" &
    mirror_pid=$!
    for _ in $(seq 200); do
      [[ -s $site.url ]] && break
      kill -0 "$mirror_pid" 2>/dev/null || break
      sleep 0.05
    done
    [[ -s $site.url ]] || { echo "demo: the mirror site did not start" >&2; cat "$site.log" >&2; exit 1; }
    mirror=$(cat "$site.url")
    rm -f "$site.url" "$site.log"
  fi
else
  python3 "$here/testserver.py" --root "$site" --port-file "$site.port" </dev/null >"$site.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do [[ -s $site.port ]] && break; sleep 0.05; done
  [[ -s $site.port ]] || { echo "demo: the download server did not start" >&2; cat "$site.log" >&2; exit 1; }
  port=$(cat "$site.port")
  rm -f "$site.port" "$site.log"
  server=http://127.0.0.1:$port/
  # Slowed down so the wizard's progress can be followed; even the fast run
  # keeps each progress page up for a moment, so every step can be seen.
  files=${server}~rate=200000/~delay=700/
  [[ $fast == 0 ]] || files=${server}~delay=300/
fi
# The manifests, written and signed by the release tool as a publisher does,
# then checked against what the server publishes.
"$qzpublish" manifest --prog VeltoAvatar --minver 1 \
  --full "${files}avatar/Mirrafig-1.zip" "$site/avatar/Mirrafig-1.zip" \
  --base "${files}avatar/" --file 1 "$site/avatar/Mirrafig-1.zip" --target avatar \
  --sign "$key" --force "$site/manifests/VeltoAvatar.txt" >/dev/null
patches=()
if [[ $release == 102 ]]; then
  # A version with a delta archive lists it too (qzpublish wrote one only
  # where it saves enough); the whole-file patches stay for older launchers
  # and for players whose files differ.
  patches=(--file 101 "$site/patch/VeltoDemo-101.zip" --file 102 "$site/patch/VeltoDemo-102.zip")
  for v in 101 102; do
    [[ -f $site/patch/VeltoDemo-$v.qzd ]] && patches+=(--delta "$v" "$site/patch/VeltoDemo-$v.qzd")
  done
fi
"$qzpublish" manifest --prog VeltoDemo --minver 100 \
  --full "${files}full/VeltoDemoSetup.exe" "$site/full/VeltoDemoSetup.exe" \
  --base "${files}patch/" "${patches[@]}" ${mirror:+--mirror "$mirror"} \
  --sign "$key" --force "$site/manifests/VeltoDemo.txt" >/dev/null
for m in VeltoAvatar VeltoDemo; do
  if ! "$qzpublish" verify "$site/manifests/$m.txt" --key "$public_key" --files "$site" >"$site.verify" 2>&1; then
    echo "demo: the manifest $m.txt does not verify:" >&2
    cat "$site.verify" >&2
    exit 1
  fi
done
rm -f "$site.verify"
cp "$here/demo/demo-page.js" "$site/demo-page.js"

echo "demo: download server $server ($site_kind) publishes release $release of the demo game"
if [[ $release == 102 ]]; then
  # The player may not change the game in Program Files (under Wine every
  # process is an administrator: the support value stands in for a standard
  # account), so the launcher asks the maintenance service the package
  # installed. The service takes the manifest's address only from the game's
  # machine record, where an administrator's installation keeps it; the
  # site's port changes from run to run, so the demo records it as that
  # administrator would.
  wine reg add 'HKLM\SOFTWARE\Veltoworks' /v TestNoWriteRights /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1
  wine reg add 'HKLM\SOFTWARE\Veltoworks\VeltoDemo' /v ManifestURL /d "${server}manifests/VeltoDemo.txt" /f \
    </dev/null >/dev/null 2>&1
  echo "demo: the player may not change the game: the upgrade goes to the maintenance service, without a prompt"
fi
if [[ -n ${mirror:-} ]]; then
  echo "demo: mirror $mirror holds the same files; the first site stops once the service has read the manifest"
  # The first site goes away between the manifest and the download: the
  # service passes over it and takes the files from the mirror.
  (
    for _ in $(seq 2400); do
      log=$(support_log)
      # The maintenance service read the manifest (its lines come back into
      # the launcher's log).
      if [[ -n $log ]] && tail -n +"$((log_lines_before + 1))" "$log" |
           grep -q '\[service\] .*\[manifest\] GET .*VeltoDemo.txt: read'; then
        bash "$here/demo/nginx-site.sh" stop "$site.nginx" >/dev/null 2>&1
        echo "demo: first site stopped during the upgrade"
        exit 0
      fi
      sleep 0.1
    done
  ) &
  stopper_pid=$!
fi
echo "demo: manifests signed by the demo publisher's key (qzpublish verify: signature and SHA256 of every file match)"
if [[ -z $before ]]; then
  echo "demo: the demo game is not installed in this prefix yet"
else
  echo "demo: the demo game is installed (version $before)"
fi
if [[ $mode == watch ]]; then
  echo "demo: the launcher opens its windows on your display; answer them as a player would"
else
  echo "demo: no display in use: Xvfb, and the demo driver plays the player"
fi

mkdir -p "$pictures"
pictures=$(cd "$pictures" && pwd)
result=$pictures/result.txt
rm -f "$result"
echo "demo: what happens:"
wine "$bin/demo_driver.exe" "$mode" "$(qz_dos_path "$pictures")" "$(qz_dos_path "$result")" \
  "$([[ $mode == watch ]] && echo 3600 || echo 240)" </dev/null &
driver=$!

page_ok=1
# Not through a pipe: the launcher inherits the script host's handles (and the
# game the launcher's), so a pipe would stay open until the game ends.
if ! wine cscript //nologo "$(qz_dos_path "$site/demo-page.js")" "$server" </dev/null; then
  page_ok=0
fi
set +e
wait "$driver"
driver_rc=$?
set -e

game_dir="$prefix/drive_c/Program Files/Veltoworks/Velto Demo"
values=$game_dir/launch-values.txt
after=$(installed_version)
page_done=0
if [[ $page_ok == 1 && $driver_rc == 0 ]]; then page_done=1; fi
[[ $page_done == 0 || ! -f $values ]] || cp "$values" "$pictures/page-values.txt"

# The entry of every other browser, once the page's entry has worked: the
# package made the launcher the handler of quorlynx: links and set the
# portal's key as PortalKeys; the portal signs a link for this player, which
# the shell hands to the handler.
link_done=0
# With the first site stopped, the portal's link names the mirror's manifests.
[[ -z ${mirror:-} ]] || server=$mirror
if [[ $page_done == 1 ]]; then
  echo
  echo "demo: the same game from any browser: a quorlynx: link the portal signed"
  fields=()
  while IFS= read -r line; do
    [[ -z $line || $line == \#* ]] || fields+=(--field "${line//@SERVER@/$server}")
  done <"$here/demo/demo-link-fields.txt"
  link=$("$qzpublish" ticket --key "$portal_key" "${fields[@]}")
  echo "demo: link (valid 5 minutes, once): ${link:0:60}...${link: -12}"
  rm -f "$values"
  wine "$bin/demo_driver.exe" "$mode" "$(qz_dos_path "$pictures/link")" "$(qz_dos_path "$pictures/link/result.txt")" \
    "$([[ $mode == watch ]] && echo 3600 || echo 120)" link </dev/null &
  driver=$!
  # What a browser does with a link to a registered protocol: hand it to the
  # shell (Wine's start.exe takes no argument over MAX_PATH, so not that).
  wine rundll32 url.dll,FileProtocolHandler "$link" </dev/null >/dev/null 2>&1 || true
  set +e
  wait "$driver"
  link_rc=$?
  set -e
  if [[ $link_rc == 0 ]]; then link_done=1; fi
  [[ ! -f $values ]] || cp "$values" "$pictures/link-values.txt"
fi

# The player's account is the demo's again.
wine reg delete 'HKLM\SOFTWARE\Veltoworks' /v TestNoWriteRights /f </dev/null >/dev/null 2>&1 || true

echo
echo "demo: summary"
echo "  two entries to the same game:"
echo "   1. the portal page's control (Tessacom1, Run), as the old browser and compatibility mode host it"
if [[ -z $before && -n $after ]]; then
  echo "      first visit: release $after of the demo game was installed through the wizard"
elif [[ -n $before && $after != "$before" ]]; then
  deltas=0
  if [[ -n $(support_log) ]]; then
    deltas=$(tail -n +"$((log_lines_before + 1))" "$(support_log)" | grep -c 'delta applied' || true)
  fi
  # Each version came as its delta archive when one was published, else as
  # its whole-file patch; qzpublish said why it wrote none.
  whole=0 small=0
  for v in 101 102; do
    zip_bytes=$(stat -c %s "$site/patch/VeltoDemo-$v.zip")
    whole=$((whole + zip_bytes))
    if [[ -f $site/patch/VeltoDemo-$v.qzd ]]; then
      small=$((small + $(stat -c %s "$site/patch/VeltoDemo-$v.qzd")))
    else
      small=$((small + zip_bytes))
      why=$(sed -n 's/^no delta archive: //p' "$build/demo/stage/VeltoDemo-$v.publish.txt" 2>/dev/null || true)
      echo "      version $v has no delta archive: ${why:-qzpublish wrote none}"
    fi
  done
  if [[ $deltas -gt 0 ]]; then
    echo "      release $before was upgraded to $after, $deltas version(s) through delta archives: $small bytes"
    echo "      downloaded instead of $whole for the whole-file patches, $((whole - small)) bytes saved"
  else
    echo "      release $before was upgraded to $after through the patch archives"
  fi
  if [[ -n $(support_log) ]]; then
    answered=$(tail -n +"$((log_lines_before + 1))" "$(support_log)" | tr -d '\r' |
      LC_ALL=C sed -n 's/.*\[rights\] the maintenance service answered: //p' | tail -n 1)
    copies=$(tail -n +"$((log_lines_before + 1))" "$(support_log)" | grep -c '\[start\] elevated copy' || true)
    if [[ $answered == "Outcome Applied" && $copies == 0 ]]; then
      echo "      the maintenance service applied the upgrade: no rights prompt, no elevated copy"
    else
      echo "      the maintenance service did not apply the upgrade (${answered:-not asked}); elevated copies: $copies"
    fi
  fi
  if [[ -n ${mirror:-} && -n $(support_log) ]]; then
    echo "      the first site was stopped after the manifest was read; the service's log says who served what:"
    tail -n +"$((log_lines_before + 1))" "$(support_log)" | tr -d '\r' |
      LC_ALL=C sed -n 's/.*\[hosts\] \(.*\)/        \1/p'
  fi
elif [[ -n $after ]]; then
  echo "      release $after was current: the game started without the wizard"
fi
if [[ $link_done == 1 ]]; then
  echo "   2. a quorlynx: link signed with the portal's key (PortalKeys), opened through the shell's protocol"
  echo "      dispatch as any browser opens it: the launcher checked signature, audience, time and nonce,"
  echo "      and the game started with the link's values"
else
  echo "   2. the quorlynx: link did not start the game (see the steps above)"
fi
echo "  installed version of the demo game: ${before:-none} before, ${after:-none} now"
scheme=${server%%://*}
echo "  download site: $site_kind at $server ($scheme$([[ $scheme == https ]] && echo ', certificate checked by the launcher'))"
echo "  manifests signed with the demo publisher's key; the package set it as ManifestKeys, so the launcher verified"
echo "  each signature and the SHA256 of every file it downloaded (qzpublish verify checked them before the run too)"
for entry in page link; do
  if [[ -f $pictures/$entry-values.txt ]]; then
    echo "  the game received from the $entry (its launch-values.txt, kept as $pictures/$entry-values.txt):"
    tr -d '\r' <"$pictures/$entry-values.txt" | sed 's/^/    /'
  fi
done
echo "  pictures of every step: $pictures (the link's in $pictures/link)"
echo "  Wine prefix of the demo: $prefix"
if [[ -z $before && -n $after ]]; then echo "  run the demo again to see the upgrade to release 102"; fi
if [[ $page_done == 1 && $link_done == 1 ]]; then
  echo "demo: done"
  exit 0
fi
echo "demo: the chain did not complete (see the steps above)" >&2
exit 1
