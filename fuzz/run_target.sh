#!/usr/bin/env bash
# Runs one fuzz target of the fuzz build for SECONDS on fresh seeds from the
# project's tools and the corpus kept from earlier runs. Exit status 0 when
# nothing was found; the finding's input is kept under findings/.
#   fuzz/run_target.sh BUILD_DIR NAME SECONDS
set -euo pipefail
build=$1 name=$2 seconds=$3
here=$(cd "$(dirname "$0")" && pwd)
# The build's list of targets, written by fuzz/CMakeLists.txt.
if ! grep -qxF "$name" "$build/fuzz/targets"; then
  echo "run_target.sh: no fuzz target $name in $build/fuzz/targets" >&2
  exit 2
fi
seeds=$build/fuzz/seeds/$name
corpus=$build/fuzz/corpus/$name
findings=$build/fuzz/findings
rm -rf "$seeds"
mkdir -p "$seeds" "$corpus" "$findings"

mkimage=$build/sim/kt58mkimage
seeder=$build/fuzz/kt_fuzz_seeds
images=(
  "--size 0" "--size 16 --record 16" "--size 100 --record 7 --major 2 --minor 10"
  "--size 600 --record 255" "--size 1024 --record 32 --seed 5"
)
case $name in
  image_fuzz)
    for i in "${!images[@]}"; do
      # shellcheck disable=SC2086
      "$mkimage" ${images[$i]} --out "$seeds/image$i.hex"
    done ;;
  protocol_fuzz)
    for i in "${!images[@]}"; do
      # shellcheck disable=SC2086
      "$mkimage" ${images[$i]} --out "$seeds/image$i.hex"
      "$seeder" protocol "$seeds/image$i.hex" "$seeds/run$i"
      rm "$seeds/image$i.hex"
    done ;;
  xport_fuzz)
    "$seeder" xport "$seeds/run" ;;
  command_line_fuzz)
    # Argument lists, NUL between the arguments.
    printf -- '--method\0network\0--ip\0192.168.0.50\0--tcp-port=10001\0-y' > "$seeds/network"
    printf -- '--device\0/dev/ttyUSB0\0--check\0--trace=t.log\0-q' > "$seeds/serial"
    printf -- '--restore-xport\0--ip\0localhost' > "$seeds/restore"
    printf -- '--check\0--method=network\0--ip=10.1.2.3' > "$seeds/check"
    printf -- '--com=3\0--ip\0999.1.1.1\0--bogus' > "$seeds/usage" ;;
  *) ;;  # no seeds: the corpus alone
esac

dictionary=()
[ -f "$here/$name.dict" ] && dictionary=(-dict="$here/$name.dict")
log=$build/fuzz/$name.log
status=0
"$build/fuzz/$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 "${dictionary[@]}" \
  -artifact_prefix="$findings/$name-" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
executions=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log" | tail -1)
if [ $status -ne 0 ]; then
  tail -n 40 "$log"
  echo "$name: FINDING after ${executions:-?} executions (input under $findings, log $log)"
  exit 1
fi
echo "$name: ${executions:-?} executions in ${seconds} s, corpus $(ls "$corpus" | wc -l) inputs, nothing found"
