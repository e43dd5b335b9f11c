#!/usr/bin/env bash
# Builds one client package with wixl from package/Quorlynx.wxs.
# Usage: make_package.sh QZPACKROWS SOURCE_ROOT WORK_DIR VERSION ARCH OUT.msi CLSID
#                        X64_LAUNCHER X64_CONTROL X86_LAUNCHER X86_CONTROL
# The registry rows come from the programs' own registration tables through
# qzpackrows; the rows of the built package are then checked against them.
set -euo pipefail
[[ $# -eq 11 ]] || { echo "usage: make_package.sh QZPACKROWS SOURCE_ROOT WORK_DIR VERSION ARCH OUT.msi CLSID X64_LAUNCHER X64_CONTROL X86_LAUNCHER X86_CONTROL" >&2; exit 2; }
rows_tool=$1 src=$2 work=$3 version=$4 arch=$5 out=$6 clsid=$7
case $arch in x64|x86) ;; *) echo "make_package.sh: ARCH is x64 or x86, not $arch" >&2; exit 2 ;; esac

stage=$work/$arch-$version
rm -rf -- "$stage"
mkdir -p "$stage/x64" "$stage/x86" "$stage/rows" "$(dirname "$out")"
cp -- "$8" "$stage/x64/Quorlynx.exe"
cp -- "$9" "$stage/x64/Tessacom1.dll"
cp -- "${10}" "$stage/x86/Quorlynx.exe"
cp -- "${11}" "$stage/x86/Tessacom1.dll"

# %MODULE% is the installed file, %WINDOWS% the Windows folder without its
# final backslash, as the programs write them when they register themselves.
control=$src/control/Tessacom1.rgs
protocol=$src/launcher/link_protocol.rgs
windows='[%SystemRoot]'
"$rows_tool" wxi "$control" HKCR "$clsid" '[#Control64]' "$windows" >"$stage/rows/control-rows-64.wxi"
"$rows_tool" wxi "$control" HKCR "$clsid" '[#Control32]' "$windows" >"$stage/rows/control-rows-32.wxi"
"$rows_tool" wxi "$protocol" HKLM "$clsid" '[#Launcher]' "$windows" >"$stage/rows/protocol-rows.wxi"

msi=$stage/package.msi
(cd "$stage" && wixl -a "$arch" -D Version="$version" -D Arch="$arch" -D Rows=rows -o "$msi" "$src/package/Quorlynx.wxs")

# What wixl has no element for: a setting's components are installed only
# when its property is set; the properties pass from the client side of the
# installation to the server side (as under a managed deployment); and a
# package of the same version replaces the installed one (a rebuilt package
# gets a new product code) instead of installing beside it.
settings="ManifestKeys:MANIFESTKEYS PortalKeys:PORTALKEYS TrustedSites:TRUSTEDSITES GameLocations:GAMELOCATIONS"
widths=32
[[ $arch == x64 ]] && widths="64 32"
queries=()
for pair in $settings; do
  for width in $widths; do
    queries+=(-q "UPDATE \`Component\` SET \`Condition\` = '${pair#*:}' WHERE \`Component\` = '${pair%%:*}$width'")
  done
done
queries+=(-q "UPDATE \`Property\` SET \`Value\` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;MANIFESTKEYS;PORTALKEYS;TRUSTEDSITES;GAMELOCATIONS' WHERE \`Property\` = 'SecureCustomProperties'")
msibuild "$msi" "${queries[@]}"
# (The attributes are part of the Upgrade table's key: the table is replaced.)
msiinfo export "$msi" Upgrade >"$stage/Upgrade.idt"
awk -F '\t' -v OFS='\t' 'NR > 3 && $7 ~ /^WIX_UPGRADE_DETECTED\r?$/ { $5 = 513 } { print }' \
  "$stage/Upgrade.idt" >"$stage/Upgrade.new" && mv "$stage/Upgrade.new" "$stage/Upgrade.idt"
(cd "$stage" && msibuild "$msi" -i Upgrade.idt)

# The package's rows must be the tables' rows, whatever wixl made of them.
"$src/package/check_tables.sh" "$rows_tool" "$src" "$msi" "$clsid" >/dev/null
# An older package than the installed one is refused with a message that says why.
msiinfo export "$msi" LaunchCondition | grep -q "^NOT WIX_DOWNGRADE_DETECTED"$'\t'"A newer version of " ||
  { echo "make_package.sh: the package lacks its downgrade refusal" >&2; exit 1; }
mv -f -- "$msi" "$out"
echo "wrote $out"
