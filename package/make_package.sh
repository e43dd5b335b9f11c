#!/usr/bin/env bash
# Builds one client package with wixl from package/Quorlynx.wxs.
# Usage: make_package.sh QZPACKROWS SOURCE_ROOT WORK_DIR VERSION ARCH OUT.msi CLSID
#                        X64_LAUNCHER X64_CONTROL X64_SERVICE X86_LAUNCHER X86_CONTROL X86_SERVICE
# The programs are copied, stamped with VERSION, stripped (their debug
# information goes to <folder of OUT>/debug/VERSION/<width>/<file>.debug, which
# the stripped file names) and signed; the package is signed last.
#
# Signing (Authenticode, osslsigncode), from the environment:
#   QZ_SIGN_CERT       the certificate (PEM or DER, with its intermediates), or
#                      a PKCS#12 file (.pfx, .p12) holding certificate and key
#   QZ_SIGN_KEY        the private key (not with PKCS#12)
#   QZ_SIGN_PASS_FILE  a file holding the key's passphrase, when it has one
#   QZ_SIGN_TIMESTAMP  an RFC 3161 time-stamping address, so the signatures
#                      outlive the certificate
#   QZ_SIGN_CA         the roots the signatures are checked against afterwards
#                      (default: the system's; the test root for the test
#                      certificate)
# Without QZ_SIGN_CERT the build tree's test certificate signs (QZ_TEST_CERTS,
# made by tools/testcerts.sh): the tests' packages, not for distribution.
set -euo pipefail
[[ $# -eq 13 ]] || { echo "usage: make_package.sh QZPACKROWS SOURCE_ROOT WORK_DIR VERSION ARCH OUT.msi CLSID X64_LAUNCHER X64_CONTROL X64_SERVICE X86_LAUNCHER X86_CONTROL X86_SERVICE" >&2; exit 2; }
rows_tool=$1 src=$2 work=$3 version=$4 arch=$5 out=$6 clsid=$7
case $arch in x64|x86) ;; *) echo "make_package.sh: ARCH is x64 or x86, not $arch" >&2; exit 2 ;; esac

cert=${QZ_SIGN_CERT:-} key=${QZ_SIGN_KEY:-} ca=${QZ_SIGN_CA:-/etc/ssl/certs/ca-certificates.crt}
if [[ -z $cert ]]; then
  tests=${QZ_TEST_CERTS:?make_package.sh: set QZ_SIGN_CERT and QZ_SIGN_KEY, or QZ_TEST_CERTS}
  cert=$tests/codesign.pem key=$tests/codesign.key ca=${QZ_SIGN_CA:-$tests/ca.pem}
  echo "make_package.sh: signing with the build tree's test certificate (QZ_SIGN_CERT is not set): for tests only" >&2
fi
sign() {
  local file=$1 args=(-h sha256 -n "Velto OneClick Install Manager" -i "https://portal.velto.example/")
  shift
  case $cert in
    *.pfx|*.p12) args+=(-pkcs12 "$cert") ;;
    *) args+=(-certs "$cert" -key "${key:?make_package.sh: QZ_SIGN_KEY is not set}") ;;
  esac
  [[ -z ${QZ_SIGN_PASS_FILE:-} ]] || args+=(-readpass "$QZ_SIGN_PASS_FILE")
  [[ -z ${QZ_SIGN_TIMESTAMP:-} ]] || args+=(-ts "$QZ_SIGN_TIMESTAMP")
  rm -f -- "$file.signed"
  osslsigncode sign "${args[@]}" "$@" -in "$file" -out "$file.signed" >/dev/null
  mv -f -- "$file.signed" "$file"
  osslsigncode verify -CAfile "$ca" -in "$file" >/dev/null ||
    { echo "make_package.sh: the signature of $file does not verify against $ca" >&2; exit 1; }
}

stage=$work/$arch-$version
debug=$(dirname "$out")/debug/$version
rm -rf -- "$stage"
mkdir -p "$stage/x64" "$stage/x86" "$stage/rows" "$(dirname "$out")"
cp -- "$8" "$stage/x64/Quorlynx.exe"
cp -- "$9" "$stage/x64/Tessacom1.dll"
cp -- "${10}" "$stage/x64/QuorlynxService.exe"
cp -- "${11}" "$stage/x86/Quorlynx.exe"
cp -- "${12}" "$stage/x86/Tessacom1.dll"
cp -- "${13}" "$stage/x86/QuorlynxService.exe"
cp -- "$src/ui/art/app.ico" "$stage/app.ico"

# The x86 package holds the 32-bit programs only.
widths=x86
[[ $arch == x64 ]] && widths="x64 x86"
for width in $widths; do
  triple=i686-w64-mingw32
  [[ $width == x64 ]] && triple=x86_64-w64-mingw32
  mkdir -p "$debug/$width"
  for name in Quorlynx.exe Tessacom1.dll QuorlynxService.exe; do
    file=$stage/$width/$name
    "$src/package/pe_version.py" stamp "$file" "$version"
    "$triple-objcopy" --only-keep-debug "$file" "$debug/$width/$name.debug"
    "$triple-strip" --strip-all "$file"
    "$triple-objcopy" --add-gnu-debuglink="$debug/$width/$name.debug" "$file"
    sign "$file"
  done
done

# %MODULE% is the installed file, %WINDOWS% the Windows folder without its
# final backslash, as the programs write them when they register themselves.
control=$src/control/Tessacom1.rgs
protocol=$src/launcher/link_protocol.rgs
windows='[%SystemRoot]'
"$rows_tool" wxi "$control" HKCR "$clsid" '[#Control64]' "$windows" >"$stage/rows/control-rows-64.wxi"
"$rows_tool" wxi "$control" HKCR "$clsid" '[#Control32]' "$windows" >"$stage/rows/control-rows-32.wxi"
"$rows_tool" wxi "$protocol" HKLM "$clsid" '[#Launcher]' "$windows" >"$stage/rows/protocol-rows.wxi"
"$rows_tool" settings wxi "$arch" >"$stage/rows/settings.wxi"
"$rows_tool" settings refs "$arch" >"$stage/rows/settings-refs.wxi"
"$rows_tool" settings rows "$arch" >"$stage/rows/settings-rows.txt"

msi=$stage/package.msi
(cd "$stage" && wixl -a "$arch" -D Version="$version" -D Arch="$arch" -D Rows=rows -o "$msi" "$src/package/Quorlynx.wxs")

# What wixl has no element for.
queries=()
sql() { queries+=(-q "$1"); }
# The old release goes before the new one is installed, so an upgrade never
# leaves the old programs or loses the new product's registration to the old
# one's removal; a same-version package replaces the installed one (a rebuilt
# package gets a new product code) instead of installing beside it.
sql "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 1401 WHERE \`Action\` = 'RemoveExistingProducts'"
secure='WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED'
[[ $arch == x86 ]] && secure+=';SHAREDCODERELEASE'
sql "UPDATE \`Property\` SET \`Value\` = '$secure' WHERE \`Property\` = 'SecureCustomProperties'"
# Each setting's components are installed only when its property is set (and
# the clearing one when it says to clear).
while IFS=$'\t' read -r table component _ condition; do
  [[ $table == Component ]] || continue
  sql "UPDATE \`Component\` SET \`Condition\` = '$condition' WHERE \`Component\` = '$component'"
done <"$stage/rows/settings-rows.txt"
# Every component's identifier from the width's upgrade code and its name.
code=$(msiinfo export "$msi" Property | awk -F '\t' '$1 == "UpgradeCode" { sub(/\r$/, "", $2); print $2 }')
mapfile -t components < <(msiinfo export "$msi" Component | awk -F '\t' 'NR > 3 { print $1 }')
while read -r component guid; do
  sql "UPDATE \`Component\` SET \`ComponentId\` = '$guid' WHERE \`Component\` = '$component'"
done < <(python3 -c 'import sys, uuid
space = uuid.UUID(sys.argv[1])
for name in sys.argv[2:]: print(name, "{%s}" % str(uuid.uuid5(space, name)).upper())' "$code" "${components[@]}")
# The files' versions and languages, as their version blocks hold them, so
# Windows Installer's file-versioning rules see every upgrade's programs as
# newer (versioned files need no hashes).
declare -A sources=([Launcher]=$arch/Quorlynx.exe [Service]=$arch/QuorlynxService.exe [Control64]=x64/Tessacom1.dll
                    [Control32]=x86/Tessacom1.dll)
while read -r file; do
  read -r file_version language < <("$src/package/pe_version.py" read "$stage/${sources[$file]}")
  sql "UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '$language' WHERE \`File\` = '$file'"
  # (One row at a time: msibuild's DELETE of a whole table leaves some.)
  sql "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$file'"
done < <(msiinfo export "$msi" File | awk -F '\t' 'NR > 3 { print $1 }')
msibuild "$msi" "${queries[@]}"

# Tables replaced whole: the Upgrade table's attributes are part of its key;
# the clearing rows are a table wixl does not make.
msiinfo export "$msi" Upgrade >"$stage/Upgrade.idt"
awk -F '\t' -v OFS='\t' 'NR > 3 && $7 ~ /^WIX_UPGRADE_DETECTED\r?$/ { $5 = 513 } { print }' \
  "$stage/Upgrade.idt" >"$stage/Upgrade.new" && mv "$stage/Upgrade.new" "$stage/Upgrade.idt"
{
  printf 'RemoveRegistry\tRoot\tKey\tName\tComponent_\r\ns72\ti2\tl255\tL255\ts72\r\nRemoveRegistry\tRemoveRegistry\r\n'
  awk -F '\t' '$1 == "RemoveRegistry" { printf "%s%d\t%s\t%s\t%s\t%s\r\n", $2, ++n[$2], $3, $4, $5, $2 }' \
    "$stage/rows/settings-rows.txt"
} >"$stage/RemoveRegistry.idt"
# The maintenance service's own access list: interactive users may start it
# (it starts on demand) and read its state, nothing more.
{
  printf 'MsiLockPermissionsEx\tLockObject\tTable\tSDDL\tCondition\r\ns72\ts72\ts32\tl0\tS255\r\n'
  printf 'MsiLockPermissionsEx\tMsiLockPermissionsEx\r\nMaintenanceLock\tMaintenance\tServiceInstall\t%s\t\r\n' \
    "$("$src/package/check_tables.sh" --service-sddl)"
} >"$stage/MsiLockPermissionsEx.idt"
(cd "$stage" && msibuild "$msi" -i Upgrade.idt -i RemoveRegistry.idt -i MsiLockPermissionsEx.idt)

# The package must be what its sources say, whatever wixl made of them.
"$src/package/check_tables.sh" "$rows_tool" "$src" "$msi" "$clsid" >/dev/null
sign "$msi" -add-msi-dse
mv -f -- "$msi" "$out"
echo "wrote $out ($(stat -c %s "$out") bytes)"
