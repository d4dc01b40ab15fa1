#!/usr/bin/env bash
# kt5cufirm under valgrind's memcheck updates both models against kt58sim:
# KT-58NET over TCP with its XPort switched and restored, KT-58CU over a
# pseudo-terminal. Every run must complete with no memory error and no leak,
# and leave the emulator's memory equal to the image's data.
# Usage: console_under_valgrind.sh VALGRIND KT58SIM KT58MKIMAGE KT5CUFIRM
set -euo pipefail
valgrind=$1 sim=$2 mkimage=$3 console=$4
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# Valgrind runs the program many times slower: longer reply waits than the other tests.
export LC_ALL=C KT5CUFIRM_TEST_WAITS=5000,50

"$mkimage" --bin "$work/expected.bin" --out "$work/image.hex"

start_sim() {
  # Emptied first: the wait below must not read the previous emulator's lines.
  : > "$work/sim.log"
  "$sim" "$@" --dump "$work/memory.bin" > "$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -qE 'listening on|serial port' "$work/sim.log" && return 0
    sleep 0.1
  done
  cat "$work/sim.log" >&2
  return 1
}

# Runs kt5cufirm under memcheck; any error or leak makes its exit status 99.
update() {
  local status=0
  "$valgrind" --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
    --errors-for-leak-kinds=all --log-file="$work/valgrind.log" \
    "$console" --image "$work/image.hex" --yes "$@" > "$work/console.log" 2>&1 || status=$?
  if [ $status -ne 0 ]; then
    cat "$work/console.log" "$work/valgrind.log" >&2
    echo "FAIL: exit status $status under valgrind" >&2
    exit 1
  fi
}

finish() {
  kill -TERM "$sim_pid"
  wait "$sim_pid" || true
  sim_pid=
  if ! cmp -s "$work/expected.bin" "$work/memory.bin"; then
    cat "$work/sim.log" >&2
    echo "FAIL: $1: the device does not hold the image" >&2
    exit 1
  fi
  echo "ok: $1, no memory error and no leak"
}

start_sim --port 0 --xport
port=$(sed -nE 's/.*listening on [0-9.]+:([0-9]+).*/\1/p' "$work/sim.log")
update --method network --ip 127.0.0.1 --tcp-port "$port"
finish "KT-58NET under valgrind"

start_sim --pty
update --device "$(sed -nE 's/.*serial port (.*)$/\1/p' "$work/sim.log")"
finish "KT-58CU under valgrind"
