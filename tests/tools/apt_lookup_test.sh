#!/usr/bin/env bash
# The set-up's package look-up against a mirror caught mid-sync: a private apt
# configuration names a good local repository, one whose index has another
# size than its Release file states, and one that cannot be reached. The
# look-up goes on with a warning and would install only what was asked; a
# package that only the broken index holds ends it with one line naming it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../../tools/apt-lookup.sh
. "$here/../../tools/apt-lookup.sh"

work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

make_deb() {  # name version dir
  local d=$work/pkg-$1
  mkdir -p "$d/DEBIAN"
  printf 'Package: %s\nVersion: %s\nArchitecture: all\nMaintainer: test <t@example.invalid>\nDescription: look-up test package\n' \
    "$1" "$2" >"$d/DEBIAN/control"
  dpkg-deb --build -Zgzip "$d" "$3/$1_$2_all.deb" >/dev/null
}
make_repo() {  # dir: a flat repository with Packages and a Release stating its size
  (cd "$1" && dpkg-scanpackages -m . /dev/null 2>/dev/null >Packages &&
    { echo "Date: $(date -Ru)"; echo "SHA256:";
      printf ' %s %s Packages\n' "$(sha256sum Packages | cut -d' ' -f1)" "$(stat -c %s Packages)"; } >Release)
}

mkdir -p "$work/good" "$work/broken"
make_deb qz-probe 1.0 "$work/good"
make_repo "$work/good"
make_deb qz-only-broken 1.0 "$work/broken"
make_repo "$work/broken"
echo "# the mirror synced the index after its Release" >>"$work/broken/Packages"

a=$work/apt
mkdir -p "$a"/etc/{apt.conf.d,preferences.d,sources.list.d} "$a"/state/lists/partial "$a"/cache/archives/partial
: >"$a/state/status"
cat >"$a/etc/sources.list" <<EOF
deb [trusted=yes] file:$work/good ./
deb [trusted=yes] file:$work/broken ./
deb [trusted=yes] file:$work/unreachable ./
EOF
sandbox=
[[ $(id -u) -eq 0 ]] && sandbox='APT::Sandbox::User "root";'
cat >"$a/apt.conf" <<EOF
Dir::Etc "$a/etc";
Dir::Etc::sourcelist "$a/etc/sources.list";
Dir::Etc::sourceparts "$a/etc/sources.list.d";
Dir::Etc::preferencesparts "$a/etc/preferences.d";
Dir::Etc::parts "$a/etc/apt.conf.d";
Dir::State "$a/state";
Dir::State::status "$a/state/status";
Dir::Cache "$a/cache";
$sandbox
EOF
export APT_CONFIG=$a/apt.conf QZ_APT_TRIES=2 QZ_APT_PAUSE=0

fail() { echo "FAIL: $*" >&2; exit 1; }

# The broken and the unreachable index are warnings; the wanted package resolves.
qz_apt_lookup deps "$work/logs" qz-probe 2>"$work/err" || fail "the look-up stopped: $(cat "$work/err")"
grep -q "warning: index not fetched.*broken" "$work/err" || fail "no warning for the broken index: $(cat "$work/err")"
# It would install exactly what was asked.
installs=$(apt-get install -s -q qz-probe 2>/dev/null | sed -n 's/^Inst \([^ ]*\).*/\1/p' | paste -sd' ')
[[ $installs == qz-probe ]] || fail "would install '$installs', not qz-probe alone"

# A package only the broken index holds: one line, naming it.
if qz_apt_lookup deps "$work/logs" qz-only-broken 2>"$work/err"; then fail "an unresolvable package passed"; fi
[[ $(wc -l <"$work/err") -eq 1 ]] || fail "more than one line: $(cat "$work/err")"
grep -q "^deps: cannot resolve qz-only-broken: .*package lists incomplete" "$work/err" || fail "unclear line: $(cat "$work/err")"
echo "ok"
