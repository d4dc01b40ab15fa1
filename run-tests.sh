#!/usr/bin/env bash
# Builds the native and the Windows builds and runs every test: natively, under
# AddressSanitizer and ThreadSanitizer, and the Windows executables under Wine.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-deps.sh

presets=(${KT_PRESETS:-linux linux-asan linux-tsan windows})
for preset in "${presets[@]}"; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
done

status=0
passed=0
failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT
for preset in "${presets[@]}"; do
  echo "== $preset: tests"
  ctest --preset "$preset" | tee "$log" || status=1
  # "100% tests passed, 0 tests failed out of 32"
  if read -r fail total < <(sed -nE 's/.*tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1 \2/p' "$log"); then
    passed=$((passed + total - fail))
    failed=$((failed + fail))
  else
    status=1
  fi
done
echo "== all builds"
echo "$passed passed, $failed failed"
exit $status
