# Package look-ups that survive a mirror mid-sync (sourced, not run).
#
# Mirrors are sometimes caught between two syncs: one index of one suite fails
# to download ("File has unexpected size ... Mirror sync in progress?") while
# every other is fine. A failed `apt-get update` therefore only ends the
# set-up when a package it needs cannot be resolved afterwards.
#
# Both the system's apt and a private configuration (APT_CONFIG in the
# environment) go through here.
#   QZ_APT_TRIES   tries of `apt-get update` (default 3)
#   QZ_APT_PAUSE   seconds between them (default 10)

# qz_apt_update LOG [SUDO...]: apt-get update, tried again after a pause while
# it fails. 0 when an update came through clean, 1 when the last one still
# reported failed indexes (LOG holds its output).
qz_apt_update() {
  local log=$1 try tries=${QZ_APT_TRIES:-3}
  shift
  for ((try = 1; try <= tries; try++)); do
    if "$@" apt-get update -q >"$log" 2>&1; then return 0; fi
    ((try < tries)) && sleep "${QZ_APT_PAUSE:-10}"
  done
  return 1
}

# The indexes the last update could not fetch, one address a line.
qz_apt_failed_indexes() {
  sed -En 's/^(E|W): Failed to fetch ([^ ]+).*/\2/p' "$1" | sort -u
}

# qz_apt_why LOG: one line saying why a simulated install failed.
qz_apt_why() {
  local line
  line=$(grep -m1 -E '^ [^ ].* : (Pre)?Depends: ' "$1" | sed -E 's/^ +//; s/ +/ /g') ||
    line=$(grep -m1 '^E: ' "$1" | sed 's/^E: //') || line="apt-get gave no reason (see $1)"
  echo "$line"
}

# qz_apt_lookup LABEL LOGDIR [--sudo CMD] PKG...: refreshes the package lists
# and checks that every PKG (name, name:arch or name=version) resolves.
# Returns 0 when they do, warning on standard error about indexes that still
# failed; otherwise says in one line which package cannot be had and why,
# and returns 1.
qz_apt_lookup() {
  local label=$1 logdir=$2
  shift 2
  local sudo=()
  if [[ ${1:-} == --sudo ]]; then
    [[ -n $2 ]] && sudo=("$2")
    shift 2
  fi
  local update_log=$logdir/apt-update.log resolve_log=$logdir/apt-resolve.log
  mkdir -p "$logdir"
  local clean=1
  qz_apt_update "$update_log" "${sudo[@]}" || clean=0
  if ! "${sudo[@]}" apt-get install -s -q --no-install-recommends "$@" >"$resolve_log" 2>&1; then
    local pkg why first= lists=
    why=$(qz_apt_why "$resolve_log")
    for pkg in "$@"; do
      if [[ $why == *"${pkg%%[:=]*}"* ]]; then first=$pkg; break; fi
    done
    if [[ $clean == 0 ]]; then
      lists=" (package lists incomplete: $(qz_apt_failed_indexes "$update_log" | head -3 | paste -sd' '))"
    fi
    echo "$label: cannot resolve ${first:-$*}: $why$lists" >&2
    return 1
  fi
  if [[ $clean == 0 ]]; then
    local idx
    while IFS= read -r idx; do
      [[ -n $idx ]] && echo "$label: warning: index not fetched, went on without it: $idx" >&2
    done < <(qz_apt_failed_indexes "$update_log")
  fi
  return 0
}
