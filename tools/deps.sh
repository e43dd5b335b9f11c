#!/usr/bin/env bash
# Installs what building and testing need, only when something is missing.
# Runs as root, or through sudo when not root.
# Usage: deps.sh [--emulated32 DIR]
#   DIR  where the x86 build tree keeps the emulated 32-bit Wine, on machines
#        whose kernel runs no 32-bit code (default: build/x86/emulated32)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
emulated32=$here/../build/x86/emulated32
if [[ ${1:-} == --emulated32 ]]; then emulated32=${2:?}; fi

packages=(
  cmake make g++ clang-14 libfuzzer-14-dev libclang-rt-14-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 libz-mingw-w64-dev mingw-w64-tools
  wine wine64 libwine-dev xvfb xauth x11-utils
  googletest zlib1g-dev fonts-ipafont-gothic locales python3 unzip zip curl
  libssl-dev libzip-dev libzstd-dev zstd nginx-light openssl wixl msitools
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
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# 32-bit Windows programs (what a 32-bit browser loads) run under Wine's 32-bit
# half, which Debian ships for i386 only and which needs a kernel that runs
# 32-bit x86 programs. Some virtual machines cannot; there Debian's `wine`
# would pick the 32-bit loader and fail for 64-bit programs too, so wine32 is
# installed only where a tiny 32-bit program runs. Elsewhere the x86 build tree
# gets a private 32-bit Wine whose processes run under the user-mode emulator
# (tools/emulated32/setup), made as the calling user and never installed.
if bash "$here/wine32-check" --kernel 2>/dev/null; then
  if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    echo "deps: installing wine32:i386"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      "${sudo_cmd[@]}" dpkg --add-architecture i386
    fi
    "${sudo_cmd[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends wine32:i386
  fi
else
  if ! bash "$here/emulated32/setup" "$emulated32"; then
    echo "deps: this kernel runs no 32-bit x86 code, and the emulated 32-bit Wine for the x86 tests could not be made" >&2
    exit 1
  fi
fi

# Wine shows Japanese paths and code page 932 only under a real ja_JP.UTF-8 C-library locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "deps: generating the ja_JP.UTF-8 locale"
  if ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ja_JP.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
