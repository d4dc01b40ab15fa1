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
for target in image_fuzz protocol_fuzz xport_fuzz command_line_fuzz; do
  fuzz/run_target.sh build/fuzz "$target" "$seconds" || status=1
done
exit $status
