#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages, when it is
# missing: the native toolchain, GoogleTest's sources, clang with libFuzzer,
# valgrind, the tools for a private network namespace, MinGW-w64 and Wine.
# With --native, only what the native build needs.
set -euo pipefail
native_only=false
[ "${1:-}" = "--native" ] && native_only=true

need=()
have() { command -v "$1" >/dev/null 2>&1; }
have cmake || need+=(cmake)
have ninja || need+=(ninja-build)
have g++ || need+=(g++)
have git || need+=(git)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
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
