#!/usr/bin/env bash
# Checks a built client package against its sources, through "msiinfo export":
#   - the registry rows of the programs' own registration tables (the
#     control's, once per width the package holds, and the launcher's link
#     protocol);
#   - the machine settings' rows (qzpackrows settings rows): properties, saved
#     copies, the actions that take a given value only from an administrator,
#     components, clearing rows, number checks;
#   - none of the settings is a secure custom property, and AdminUser tells a
#     real administrator (MSIUSEREALADMINDETECTION);
#   - the order: the old release is removed right after InstallValidate,
#     before anything is installed; a given value is kept before AppSearch
#     and put back after it, in both sequences;
#   - each file's version and language in the File table are its version
#     block's (the files extracted from the package);
#   - the refusals: an older release (downgrade), and for the x86 package a
#     64-bit Windows;
#   - the maintenance service: its program in the Windows folder, installed
#     to run on its own as LocalSystem and start on demand, stopped before an
#     upgrade or a removal and deleted by the removal, and its access list
#     (interactive users may start it and read its state, nothing more);
#   - with --other PACKAGE.msi (the other width): no upgrade code and no
#     component identifier is shared.
# check_tables.sh --service-sddl prints the service's access list.
# Usage: check_tables.sh QZPACKROWS SOURCE_ROOT PACKAGE.msi CLSID [--self-test] [--other PACKAGE.msi]
#   --self-test  also proves the check fails on each kind of fault
set -euo pipefail
# SYSTEM and the administrators as Windows gives them a service; interactive
# users query, start and interrogate (no stop, no change, no user control).
service_sddl='D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCSWRPLORC;;;IU)'
[[ ${1:-} != --service-sddl ]] || { echo "$service_sddl"; exit 0; }
[[ $# -ge 4 ]] || { echo "usage: check_tables.sh QZPACKROWS SOURCE_ROOT PACKAGE.msi CLSID [--self-test] [--other PACKAGE.msi]" >&2; exit 2; }
rows_tool=$1 src=$2 msi=$(realpath "$3") clsid=$4
shift 4
self_test= other=
while [[ $# -gt 0 ]]; do
  case $1 in
    --self-test) self_test=1; shift ;;
    --other) other=$(realpath "$2"); shift 2 ;;
    *) echo "check_tables.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
windows='[%SystemRoot]'
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

tables="Registry File Component Property CustomAction InstallExecuteSequence InstallUISequence AppSearch
        RegLocator RemoveRegistry LaunchCondition MsiFileHash Upgrade ServiceInstall ServiceControl MsiLockPermissionsEx"
export_tables() {  # PACKAGE DIR
  mkdir -p "$2"
  local table
  for table in $tables; do msiinfo export "$1" "$table" | tr -d '\r' >"$2/$table.idt"; done
}
export_tables "$msi" "$work/t"
arch=x64
msiinfo suminfo "$msi" | grep -q '^Template: x64;' || arch=x86
"$rows_tool" settings rows "$arch" >"$work/expected-settings"
mkdir -p "$work/files"
(cd "$work/files" && msiextract "$msi" >/dev/null)
[[ -z $other ]] || export_tables "$other" "$work/other"

rows() { awk -F '\t' -v OFS='\t' "NR > 3 { $2 }" "$1"; }  # IDT PROGRAM: the rows past the header
value_of() { rows "$1/Property.idt" "if (\$1 == \"$2\") print \$2"; }
sequence_of() { rows "$1/$2.idt" "if (\$1 == \"$3\") print \$3"; }

# The registration tables' rows, in every component that holds them.
check_registration() {
  local dir=$1 component ok=0
  local controls
  controls=$(rows "$dir/File.idt" 'if ($1 == "Control64" || $1 == "Control32") print $1')
  [[ -n $controls ]] || { echo "the package holds no control"; return 1; }
  for component in $controls; do
    "$rows_tool" check "$src/control/Tessacom1.rgs" HKCR "$clsid" "[#$component]" "$windows" "$dir/Registry.idt" \
      "$component" || ok=1
  done
  "$rows_tool" check "$src/launcher/link_protocol.rgs" HKLM "$clsid" '[#Launcher]' "$windows" "$dir/Registry.idt" \
    Launcher || ok=1
  return $ok
}

# The settings' rows as the package holds them, in the form qzpackrows writes.
settings_rows() {
  local dir=$1 own='$1 == "Launcher" || $1 == "Service" || $1 == "Control64" || $1 == "Control32"'
  {
    rows "$dir/AppSearch.idt" 'print "AppSearch", $1, $2'
    rows "$dir/RegLocator.idt" 'print "RegLocator", $1, $2, $3, $4, $5'
    rows "$dir/LaunchCondition.idt" 'if ($1 !~ /^NOT (WIX_DOWNGRADE_DETECTED|VersionNT64)$/) print "LaunchCondition", $1, $2'
    rows "$dir/CustomAction.idt" 'print "CustomAction", $1, $3, $4'
    local sequence
    for sequence in InstallExecuteSequence InstallUISequence; do
      rows "$dir/$sequence.idt" "if (\$1 ~ /^(Keep|Forget|Use)/) print \"$sequence\", \$1, \$2, \$3"
    done
    rows "$dir/Component.idt" "if (!($own)) print \"Component\", \$1, \$4, \$5"
    rows "$dir/Registry.idt" "if (\$6 != \"Launcher\" && \$6 !~ /^Control(64|32)\$/) print \"Registry\", \$6, \$2, \$3, \$4, \$5"
    rows "$dir/RemoveRegistry.idt" 'print "RemoveRegistry", $5, $2, $3, $4'
  } | sort
}

check_settings() {
  local dir=$1 ok=0
  if ! diff <(sort "$work/expected-settings") <(settings_rows "$dir") >"$work/settings.diff"; then
    echo "the settings' rows differ from base/machine_settings.h (< expected, > in the package):"
    grep '^[<>]' "$work/settings.diff" | head -20
    ok=1
  fi
  # Only an administrator's value is kept over the saved one.
  local unguarded
  unguarded=$(cat "$dir/InstallExecuteSequence.idt" "$dir/InstallUISequence.idt" |
    awk -F '\t' '$1 ~ /^Keep/ && $2 !~ /^AdminUser AND / { print $1 }')
  [[ -z $unguarded ]] || { echo "kept without the administrator's condition: $unguarded"; ok=1; }
  local secure property
  secure=";$(value_of "$dir" SecureCustomProperties);"
  for property in $("$rows_tool" settings table | grep -v '^#' | cut -f3); do
    [[ $secure != *";$property;"* ]] || { echo "$property is a secure custom property"; ok=1; }
  done
  [[ $(value_of "$dir" MSIUSEREALADMINDETECTION) == 1 ]] || { echo "AdminUser is not the real administrator's"; ok=1; }
  return $ok
}

check_order() {
  local dir=$1 ok=0 sequence
  local validate remove initialize
  validate=$(sequence_of "$dir" InstallExecuteSequence InstallValidate)
  remove=$(sequence_of "$dir" InstallExecuteSequence RemoveExistingProducts)
  initialize=$(sequence_of "$dir" InstallExecuteSequence InstallInitialize)
  if [[ -z $remove ]] || ((remove != validate + 1 || remove >= initialize)); then
    echo "the old release is not removed right after InstallValidate ($validate) but at ${remove:-no step}"
    ok=1
  fi
  for sequence in InstallExecuteSequence InstallUISequence; do
    local search launch
    search=$(sequence_of "$dir" "$sequence" AppSearch)
    launch=$(sequence_of "$dir" "$sequence" LaunchConditions)
    local wrong
    wrong=$(rows "$dir/$sequence.idt" "if ((\$1 ~ /^(Keep|Forget)/ && \$3 >= $search) ||
                                            (\$1 ~ /^Use/ && (\$3 <= $search || \$3 >= $launch))) print \$1")
    [[ -z $wrong ]] || { echo "$sequence: on the wrong side of AppSearch: $wrong"; ok=1; }
  done
  return $ok
}

check_files() {
  local dir=$1 ok=0 file name size version language found actual
  while IFS=$'\t' read -r file name size version language; do
    found=
    while IFS= read -r -d '' candidate; do
      [[ $(stat -c %s "$candidate") == "$size" ]] && found=$candidate
    done < <(find "$work/files" -type f -name "$name" -print0)
    [[ -n $found ]] || { echo "$file: no file of $size bytes named $name in the package"; ok=1; continue; }
    actual=$("$src/package/pe_version.py" read "$found")
    [[ "$version $language" == "$actual" ]] ||
      { echo "$file: the File table says $version $language, the file $actual"; ok=1; }
  done < <(rows "$dir/File.idt" 'print $1, $3, $4, $5, $6')
  [[ -z $(rows "$dir/MsiFileHash.idt" 'print $1') ]] || { echo "versioned files have hashes"; ok=1; }
  return $ok
}

check_refusals() {
  local dir=$1 ok=0
  grep -q "^NOT WIX_DOWNGRADE_DETECTED"$'\t'"A newer version of " "$dir/LaunchCondition.idt" ||
    { echo "the package lacks its downgrade refusal"; ok=1; }
  if [[ $arch == x86 ]] && ! grep -q $'^NOT VersionNT64\t.*-x64.msi' "$dir/LaunchCondition.idt"; then
    echo "the x86 package does not refuse 64-bit Windows, naming the x64 package"
    ok=1
  fi
  return $ok
}

check_service() {
  local dir=$1 ok=0
  [[ $(rows "$dir/File.idt" 'if ($1 == "Service") print $3') == QuorlynxService.exe &&
     $(rows "$dir/Component.idt" 'if ($1 == "Service") print $3') == WindowsFolder ]] ||
    { echo "the maintenance service's program is not QuorlynxService.exe in the Windows folder"; ok=1; }
  local installed
  installed=$(rows "$dir/ServiceInstall.idt" 'print $1 " " $2 " " $4 " " $5 " " $9 " " $12')
  [[ $installed == "Maintenance QuorlynxMaintenance 16 3 LocalSystem Service" ]] ||
    { echo "the maintenance service is not installed on its own, on demand, as LocalSystem"; ok=1; }
  # 162: stopped when installed over or removed, deleted when removed.
  [[ $(rows "$dir/ServiceControl.idt" 'print $2 " " $3 " " $5 " " $6') == "QuorlynxMaintenance 162 1 Service" ]] ||
    { echo "the maintenance service is not stopped before an upgrade or removal and deleted by the removal"; ok=1; }
  [[ $(rows "$dir/MsiLockPermissionsEx.idt" 'print $2 " " $3 " " $4 $5') == "Maintenance ServiceInstall $service_sddl" ]] ||
    { echo "the maintenance service's access list is not $service_sddl"; ok=1; }
  return $ok
}

check_widths() {
  local dir=$1
  [[ -n $other ]] || return 0
  local ok=0 shared
  [[ $(value_of "$dir" UpgradeCode) != "$(value_of "$work/other" UpgradeCode)" ]] ||
    { echo "both widths have the upgrade code $(value_of "$dir" UpgradeCode)"; ok=1; }
  shared=$(comm -12 <(rows "$dir/Component.idt" 'print $2' | sort) <(rows "$work/other/Component.idt" 'print $2' | sort))
  [[ -z $shared ]] || { echo "components of both widths share the identifiers $shared"; ok=1; }
  return $ok
}

check() {
  local dir=$1 ok=0 part
  for part in registration settings order files refusals service widths; do
    "check_$part" "$dir" || ok=1
  done
  return $ok
}

check "$work/t"
[[ -n $self_test ]] || exit 0

# mutation: NAME|TABLE|awk program applied to that table's export
mutations=(
  'lost row|Registry|NR > 3 && /\tThreadingModel\t/ && !done { done = 1; next } { print }'
  'changed value|Registry|NR > 3 && /\tPolicy\t/ { sub(/#3/, "#1") } { print }'
  'row of its own|Registry|{ print } NR == 3 { print "regExtra\t0\tTessacom1.Tessacontrol1\tExtra\tx\tLauncher" }'
  "setting kept from anyone|InstallUISequence|\$1 == \"KeepTrustedSites\" { sub(/AdminUser AND /, \"\") } { print }"
  "lost clearing row|RemoveRegistry|NR > 3 && /\tManifestKeys\t/ && !done { done = 1; next } { print }"
  "secure trust property|Property|\$1 == \"SecureCustomProperties\" { \$0 = \$0 \";MANIFESTKEYS\" } { print }"
  "old release removed last|InstallExecuteSequence|\$1 == \"RemoveExistingProducts\" { \$0 = \$1 \"\t\t6601\" } { print }"
  "file version not the file's|File|\$1 == \"Launcher\" { \$5 = \"0.9.0.0\" } { print }"
  "service started at boot|ServiceInstall|NR > 3 { \$5 = 2 } { print }"
  "service left behind by the removal|ServiceControl|NR > 3 { \$3 = 34 } { print }"
  "users may stop the service|MsiLockPermissionsEx|NR > 3 { sub(/RPLORC;;;IU/, \"RPWPLORC;;;IU\") } { print }"
)
if [[ -n $other ]]; then
  mutations+=("shared upgrade code|Property|\$1 == \"UpgradeCode\" { \$0 = \$1 \"\t$(value_of "$work/other" UpgradeCode)\" } { print }")
fi
for mutation in "${mutations[@]}"; do
  IFS='|' read -r name table program <<<"$mutation"
  rm -rf -- "$work/m"
  cp -r -- "$work/t" "$work/m"
  awk -F '\t' -v OFS='\t' "$program" "$work/t/$table.idt" >"$work/m/$table.idt"
  if cmp -s "$work/t/$table.idt" "$work/m/$table.idt"; then
    echo "check_tables.sh: the mutation \"$name\" changed nothing" >&2
    exit 1
  fi
  if check "$work/m" >/dev/null; then
    echo "check_tables.sh: the check missed a $name" >&2
    exit 1
  fi
  echo "caught: $name"
done
