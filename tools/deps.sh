#!/usr/bin/env bash
# Installs what building and testing need, only when something is missing.
# Runs as root, or through sudo when not root.
# Usage: deps.sh [--wine32 DIR]
#   DIR  where the x86 build tree keeps the private 32-bit Wine
#        (default: build/x86/wine32)
# Nothing 32-bit is installed on the system, and its architectures are never
# changed: the 32-bit Wine is private to the build tree (tools/wine32/setup).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine32=$here/../build/x86/wine32
if [[ ${1:-} == --wine32 ]]; then wine32=${2:?}; fi
# shellcheck source=apt-lookup.sh
. "$here/apt-lookup.sh"

packages=(
  cmake make g++ clang-14 clang-format-14 libfuzzer-14-dev libclang-rt-14-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 libz-mingw-w64-dev mingw-w64-tools
  wine wine64 libwine-dev xvfb xauth x11-utils
  googletest zlib1g-dev fonts-ipafont-gothic locales python3 unzip zip curl
  libssl-dev libzip-dev libzstd-dev zstd nginx-light openssl wixl msitools osslsigncode patchelf dpkg-dev
)

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "deps: installing ${missing[*]}"
  # A mirror mid-sync may fail one index; that only matters when a package
  # named here cannot be resolved without it.
  qz_apt_lookup deps "${TMPDIR:-/tmp}/qz-deps-$(id -u)" --sudo "${sudo_cmd[0]:-}" "${missing[@]}" || exit 1
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# 32-bit Windows programs (what a 32-bit browser loads) run under the private
# 32-bit Wine of the x86 build tree, made as the calling user: natively where
# the kernel runs 32-bit code, else under the user-mode emulator.
if ! bash "$here/wine32/setup" "$wine32"; then
  echo "deps: the private 32-bit Wine for the x86 tests could not be made" >&2
  exit 1
fi

# Wine shows Japanese paths and code page 932 only under a real ja_JP.UTF-8 C-library locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "deps: generating the ja_JP.UTF-8 locale"
  if ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ja_JP.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
