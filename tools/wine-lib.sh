# Shared helpers of winerun and winesession (sourced, not run).
#
# Safety rules that every function here keeps:
#   - HOME points into the build tree, so nothing Wine links or writes lands in
#     the real home folder;
#   - the template's user folders are real folders, not links, and it has no Z:
#     drive, so a Windows program cannot reach / through it;
#   - removal only ever happens below $QZ_WINE_DIR and never through a link.

qz_wine_env() {
  local build=$1
  QZ_BUILD=$build
  QZ_WINE_DIR=$build/wine
  QZ_TEMPLATE=$QZ_WINE_DIR/template
  QZ_CERTS=$build/testcerts
  QZ_TOOLS_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  mkdir -p "$QZ_WINE_DIR/home"
  export QZ_BUILD QZ_WINE_DIR QZ_TEMPLATE QZ_CERTS
  export HOME=$QZ_WINE_DIR/home
  export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
  export LC_ALL=ja_JP.UTF-8
  export WINEDEBUG=${QZ_WINEDEBUG:--all}
  export WINEARCH=win64
  # No Mono/Gecko install prompts, no desktop menu entries.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # A tree with the private 32-bit Wine (tools/wine32/setup) runs every
  # program through it.
  QZ_WINE32_DIR=
  if [[ -x $build/wine32/bin/wine && -f $build/wine32/root/.qz-ready ]]; then
    QZ_WINE32_DIR=$build/wine32
    export PATH=$QZ_WINE32_DIR/bin:$PATH
  fi
}

qz_session_file() { echo "$QZ_WINE_DIR/session"; }

qz_session_active() {
  local f
  f=$(qz_session_file)
  [[ -f $f ]] && kill -0 "$(sed -n 2p "$f")" 2>/dev/null
}

# Start a private Xvfb; sets DISPLAY and QZ_XVFB_PID. A display number that a
# dying server still holds makes a start fail now and then: try again.
qz_start_xvfb() {
  local fdfile attempt i
  for attempt in 1 2 3; do
    fdfile=$(mktemp "$QZ_WINE_DIR/xvfb.XXXXXX")
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$fdfile" </dev/null >/dev/null 2>&1 &
    QZ_XVFB_PID=$!
    for i in $(seq 200); do
      [[ -s $fdfile ]] && break
      kill -0 "$QZ_XVFB_PID" 2>/dev/null || break
      sleep 0.05
    done
    if [[ -s $fdfile ]]; then
      export DISPLAY=:$(head -1 "$fdfile")
      rm -f "$fdfile"
      return 0
    fi
    kill "$QZ_XVFB_PID" 2>/dev/null || true
    rm -f "$fdfile"
    sleep 0.5
  done
  echo "winerun: Xvfb did not start" >&2
  return 1
}

# Use the caller's display, else the session's, else start one of our own
# (QZ_OWN_DISPLAY=1 then tells the caller to stop it).
qz_ensure_display() {
  QZ_OWN_DISPLAY=0
  if [[ -n ${DISPLAY:-} && ${QZ_FORCE_XVFB:-0} != 1 ]]; then return 0; fi
  if qz_session_active; then
    export DISPLAY
    DISPLAY=$(sed -n 1p "$(qz_session_file)")
    return 0
  fi
  qz_start_xvfb
  QZ_OWN_DISPLAY=1
}

qz_stop_display() {
  if [[ -n ${QZ_XVFB_PID:-} ]]; then
    kill "$QZ_XVFB_PID" 2>/dev/null || true
    wait "$QZ_XVFB_PID" 2>/dev/null || true
    QZ_XVFB_PID=
  fi
}

# Start the prefix's wineserver and services with no pipes of ours attached, so
# a caller that captures output is not held open by them.
qz_start_wine() {
  local prefix=$1
  WINEPREFIX=$prefix wineserver -p </dev/null >/dev/null 2>&1
  WINEPREFIX=$prefix wine wineboot </dev/null >/dev/null 2>&1 || true
}

# Ends everything of that prefix, services included.
qz_stop_wine() {
  local prefix=$1
  WINEPREFIX=$prefix wineserver -k </dev/null >/dev/null 2>&1 || true
  WINEPREFIX=$prefix wineserver -w </dev/null >/dev/null 2>&1 || true
}

qz_replace_links_with_folders() {
  local dir=$1 entry
  [[ -d $dir ]] || return 0
  for entry in "$dir"/*; do
    if [[ -L $entry ]]; then
      rm -f -- "$entry"
      mkdir -p -- "$entry"
    fi
  done
}

qz_create_template() {
  local tmp=$QZ_WINE_DIR/template.new
  qz_remove_prefix "$tmp"
  echo "winerun: creating the Wine prefix in $QZ_TEMPLATE (once per build tree)" >&2
  WINEPREFIX=$tmp wine wineboot --init </dev/null >"$QZ_WINE_DIR/template.log" 2>&1 || true
  WINEPREFIX=$tmp wineserver -w </dev/null >/dev/null 2>&1 || true
  [[ -f $tmp/system.reg ]] || { echo "winerun: prefix creation failed, see $QZ_WINE_DIR/template.log" >&2; return 1; }
  local u
  for u in "$tmp"/drive_c/users/*; do qz_replace_links_with_folders "$u"; done
  rm -f -- "$tmp/dosdevices/z:"
  ln -sfn "$QZ_BUILD" "$tmp/dosdevices/d:"
  # Fonts for Japanese dialog text, and the names our dialogs ask for.
  local reg=$QZ_WINE_DIR/template-fonts.reg
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n"MS UI Gothic"="IPAPGothic"\r\n"MS Shell Dlg"="IPAPGothic"\r\n"MS Gothic"="IPAGothic"\r\n"ＭＳ ゴシック"="IPAGothic"\r\n' >"$reg"
  WINEPREFIX=$tmp wine regedit /S "$(qz_dos_path "$reg")" </dev/null >/dev/null 2>&1 || true
  # Trust the test root, so https to the test server works in every prefix.
  local addroot=$QZ_BUILD/bin/qz_add_test_root.exe
  if [[ ! -f $addroot ]]; then
    echo "winerun: $addroot is missing; build the tree first" >&2
    WINEPREFIX=$tmp wineserver -k </dev/null >/dev/null 2>&1 || true
    return 1
  fi
  if ! WINEPREFIX=$tmp wine "$(qz_dos_path "$addroot")" "$(qz_dos_path "$QZ_CERTS/ca.der")" \
    </dev/null >>"$QZ_WINE_DIR/template.log" 2>&1; then
    echo "winerun: adding the test root failed, see $QZ_WINE_DIR/template.log" >&2
    WINEPREFIX=$tmp wineserver -k </dev/null >/dev/null 2>&1 || true
    return 1
  fi
  WINEPREFIX=$tmp wineserver -k </dev/null >/dev/null 2>&1 || true
  WINEPREFIX=$tmp wineserver -w </dev/null >/dev/null 2>&1 || true
  qz_template_stamp >"$tmp/.qz-ready"
  mv -T "$tmp" "$QZ_TEMPLATE"
}

# Bumped whenever the template's making changes, so old build trees remake it.
QZ_TEMPLATE_VERSION=3

# The template is current for this making, this test root and this Wine (one
# made without the 32-bit half lacks its folders): a renewed root means a new
# template.
qz_template_stamp() { echo "$QZ_TEMPLATE_VERSION $(cat "$QZ_CERTS/ca.fp")${QZ_WINE32_DIR:+ wine32}"; }

qz_template_current() {
  [[ -f $QZ_TEMPLATE/.qz-ready && $(cat "$QZ_TEMPLATE/.qz-ready") == "$(qz_template_stamp)" ]]
}

# The test certificates of the build tree, made or renewed when due.
qz_ensure_certs() {
  "$QZ_TOOLS_DIR/testcerts.sh" "$QZ_CERTS" || { echo "winerun: making the test certificates failed" >&2; return 1; }
}

qz_ensure_template() {
  mkdir -p "$QZ_WINE_DIR"
  qz_ensure_certs || return 1
  qz_template_current && return 0
  (
    flock 9
    if ! qz_template_current; then
      qz_remove_prefix "$QZ_TEMPLATE"
      local own=0 made=0
      # The display must not hold the lock: it outlives a failed creation
      # only if it is not stopped, and then every later run would wait.
      if [[ -z ${DISPLAY:-} ]]; then qz_start_xvfb 9>&-; own=1; fi
      qz_create_template && made=1
      if [[ $own == 1 ]]; then qz_stop_display; fi
      [[ $made == 1 ]]
    fi
  ) 9>"$QZ_WINE_DIR/template.lock"
}

# A private prefix: a hard-linked copy of the template (about a second). Files
# Wine or a test rewrites in place (registry, ini files, user folders) are real
# copies so the template never changes.
qz_fresh_prefix() {
  local dir
  dir=$(mktemp -d "$QZ_WINE_DIR/p.XXXXXX")
  qz_copy_template "$dir"
  echo "$dir"
}

# Fills the empty folder dir (below $QZ_WINE_DIR) with a copy of the template.
qz_copy_template() {
  local dir=$1
  case $dir in "$QZ_WINE_DIR"/*) ;; *) echo "winerun: refusing to fill $dir" >&2; return 1 ;; esac
  cp -al "$QZ_TEMPLATE/." "$dir/"
  local f
  for f in "$dir"/*.reg "$dir"/drive_c/windows/*.ini; do
    [[ -f $f ]] && cp --remove-destination "$QZ_TEMPLATE/${f#"$dir"/}" "$f"
  done
  rm -rf -- "$dir/drive_c/users"
  cp -a "$QZ_TEMPLATE/drive_c/users" "$dir/drive_c/users"
}

# A prefix that outlives the run (the demo's: its second run must find what
# the first installed), made once from the template as $QZ_WINE_DIR/NAME.
# Programs installed into it are new files, never the template's hard links.
qz_named_prefix() {
  local name=$1
  [[ $name =~ ^[A-Za-z0-9][A-Za-z0-9_.-]*$ && $name != template* && $name != p.* ]] || {
    echo "winerun: bad prefix name '$name'" >&2
    return 1
  }
  local dir=$QZ_WINE_DIR/$name
  if [[ ! -f $dir/.qz-prefix-ready ]]; then
    qz_remove_prefix "$dir"  # a copy that was cut short
    mkdir -p "$dir"
    qz_copy_template "$dir"
    touch "$dir/.qz-prefix-ready"
  fi
  echo "$dir"
}

qz_remove_prefix() {
  local dir=$1
  [[ -n $dir && -e $dir ]] || return 0
  case $dir in "$QZ_WINE_DIR"/*) ;; *) echo "winerun: refusing to remove $dir" >&2; return 1 ;; esac
  [[ ! -L $dir ]] || { rm -f -- "$dir"; return 0; }
  # rm -r never follows the links inside (dosdevices/d: stays a link that is removed).
  rm -rf --one-file-system -- "$dir"
}

# Windows path of a file in the build tree (drive D:).
qz_dos_path() {
  local p
  p=$(realpath -m "$1")
  case $p in
    "$QZ_BUILD") echo 'D:\' ;;
    "$QZ_BUILD"/*) local rel=${p#"$QZ_BUILD"/}; echo "D:\\${rel//\//\\}" ;;
    *) echo "winerun: $p is outside the build tree" >&2; return 1 ;;
  esac
}
