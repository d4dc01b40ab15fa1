#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages, when it is
# missing: the native toolchain, GoogleTest's sources, clang with libFuzzer,
# valgrind, the tools for a private network namespace, MinGW-w64, Wine and the
# Japanese font the Wine prefix maps the dialog's fonts to. With --native, only
# what the native build needs; with --screenshots, also what tools/screenshots.sh
# needs.
set -euo pipefail
native_only=false
screenshots=false
[ "${1:-}" = "--native" ] && native_only=true
[ "${1:-}" = "--screenshots" ] && screenshots=true

need=()
have() { command -v "$1" >/dev/null 2>&1; }
have cmake || need+=(cmake)
have ninja || need+=(ninja-build)
have g++ || need+=(g++)
have git || need+=(git)
have unzip || need+=(unzip)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
# CLI11, header-only: the console's command line (native and Windows builds).
[ -f /usr/include/CLI/CLI.hpp ] || need+=(libcli11-dev)
# The Japanese locale sources and charmaps, for the console's EUC-JP output test.
[ -f /usr/share/i18n/charmaps/EUC-JP.gz ] || need+=(locales)
have clang++ || need+=(clang)
compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
  need+=(libclang-rt-14-dev)
have valgrind || need+=(valgrind)
have unshare || need+=(util-linux)
have ip || [ -x /usr/sbin/ip ] || [ -x /sbin/ip ] || need+=(iproute2)
if ! $native_only; then
  have x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64)
  have wine || need+=(wine wine64)
  have xvfb-run || need+=(xvfb xauth)
  [ -f /usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf ] || need+=(fonts-ipafont-gothic)
fi
if $screenshots; then
  have import || need+=(imagemagick)
fi

[ ${#need[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif have sudo && sudo -n true 2>/dev/null; then
  sudo=(sudo -n)
else
  echo "Missing packages: ${need[*]}" >&2
  echo "Install them as root (apt-get install ${need[*]}) or run this again with sudo rights." >&2
  exit 1
fi

echo "Installing: ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${need[@]}" >/dev/null
