#!/usr/bin/env bash
# Builds the native and the Windows builds and runs every test: natively, under
# AddressSanitizer and ThreadSanitizer, the fuzz targets for a short time, and
# the Windows executables under Wine.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-deps.sh

presets=(${KT_PRESETS:-linux linux-asan linux-tsan fuzz windows})
for preset in "${presets[@]}"; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
done

# Tests bind the fixed UDP ports 10001 and 30718, which another program on this
# machine (another run of this suite, too) may hold. So each preset's tests run
# in a private network namespace with only loopback, where the machine allows
# one: as root, or as root of a user namespace.
ip_tool=$(command -v ip || echo /usr/sbin/ip)
private_net=()
for candidate in "unshare -n" "unshare -rn"; do
  if $candidate "$ip_tool" link set lo up 2>/dev/null; then
    read -ra private_net <<<"$candidate"
    break
  fi
done
if [ ${#private_net[@]} -eq 0 ]; then
  echo "!!! WARNING: no private network namespace here (unshare -n and unshare -rn were refused):" >&2
  echo "!!! the tests use UDP ports 10001 and 30718 of this machine and fail if another program holds them." >&2
fi
in_private_net() {
  if [ ${#private_net[@]} -gt 0 ]; then
    "${private_net[@]}" sh -c '"$0" link set lo up && exec "$@"' "$ip_tool" "$@"
  else
    "$@"
  fi
}

status=0
passed=0
failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT
for preset in "${presets[@]}"; do
  echo "== $preset: tests"
  in_private_net ctest --preset "$preset" | tee "$log" || status=1
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
