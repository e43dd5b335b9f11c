#!/usr/bin/env bash
# Checks the registry rows of a built client package against the programs'
# own registration tables (the control's, once per width the package holds,
# and the launcher's link protocol), through "msiinfo export".
# Usage: check_tables.sh QZPACKROWS SOURCE_ROOT PACKAGE.msi CLSID [--self-test]
#   --self-test  also proves the check fails on a row the package lost, a
#                value it changed and a row of its own
set -euo pipefail
[[ $# -ge 4 ]] || { echo "usage: check_tables.sh QZPACKROWS SOURCE_ROOT PACKAGE.msi CLSID [--self-test]" >&2; exit 2; }
rows_tool=$1 src=$2 msi=$3 clsid=$4 self_test=${5:-}
windows='[%SystemRoot]'
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
msiinfo export "$msi" Registry >"$work/Registry.idt"
# The control widths the package holds, by its files.
controls=$(msiinfo export "$msi" File | awk -F '\t' 'NR > 3 && ($1 == "Control64" || $1 == "Control32") { print $1 }')
[[ -n $controls ]] || { echo "check_tables.sh: $msi holds no control" >&2; exit 1; }

# Every component of the package that holds a table's rows.
check() {
  local idt=$1 component ok=0
  for component in $controls; do
    "$rows_tool" check "$src/control/Tessacom1.rgs" HKCR "$clsid" "[#$component]" "$windows" "$idt" "$component" || ok=1
  done
  "$rows_tool" check "$src/launcher/link_protocol.rgs" HKLM "$clsid" '[#Launcher]' "$windows" "$idt" Launcher || ok=1
  return $ok
}

check "$work/Registry.idt"
[[ $self_test == --self-test ]] || exit 0

mutations=(
  'lost row|NR > 3 && /\tThreadingModel\t/ && !done { done = 1; next } { print }'
  'changed value|NR > 3 && /\tPolicy\t/ { sub(/#3/, "#1") } { print }'
  'row of its own|{ print } NR == 3 { print "regExtra\t0\tTessacom1.Tessacontrol1\tExtra\tx\tLauncher" }'
)
for mutation in "${mutations[@]}"; do
  awk "${mutation#*|}" "$work/Registry.idt" >"$work/mutated.idt"
  if check "$work/mutated.idt" >/dev/null; then
    echo "check_tables.sh: the check missed a ${mutation%%|*}" >&2
    exit 1
  fi
  echo "caught: ${mutation%%|*}"
done
