#!/usr/bin/env bash
# Builds the fuzz targets (the fuzz preset: clang, libFuzzer, AddressSanitizer
# and UBSan) and runs each for SECONDS (default 60), one after the other.
# Exit status 1 when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
tools/install-deps.sh --native
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
status=0
# The targets the build lists (fuzz/CMakeLists.txt).
while read -r target; do
  fuzz/run_target.sh build/fuzz "$target" "$seconds" </dev/null || status=1
done <build/fuzz/fuzz/targets
exit $status
