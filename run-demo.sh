#!/usr/bin/env bash
# A full update of both models against the emulator, with the console front
# end and the real protocol waits: KT-58NET over TCP with its XPort switched
# and restored, then KT-58CU over a pseudo-terminal. Afterwards the emulator's
# memory is compared with the image's data.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-deps.sh --native
echo "== Building"
cmake --preset linux >/dev/null
cmake --build --preset linux --target kt5cufirm kt58sim kt58mkimage -j "$(nproc)" >/dev/null

bin=build/linux
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The shipped sample is exactly what kt58mkimage makes; its data bytes are
# what a device must hold after the update.
"$bin/sim/kt58mkimage" --out "$work/sample.hex" --bin "$work/expected.bin"
cmp -s sim/sample-firmware.hex "$work/sample.hex" ||
  { echo "sim/sample-firmware.hex differs from kt58mkimage's" >&2; exit 1; }

# Starts kt58sim with the given options; waits for the line that names where it serves.
start_sim() {
  # Emptied first: the wait below must not read the previous emulator's lines.
  : > "$work/sim.log"
  "$bin/sim/kt58sim" "$@" > "$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -qE 'listening on|serial port' "$work/sim.log" && return 0
    sleep 0.1
  done
  cat "$work/sim.log" >&2
  return 1
}

stop_sim() {
  kill -TERM "$sim_pid"
  wait "$sim_pid" || true
  sim_pid=
  echo "-- the emulator:"
  sed -E 's/^(.{110}).+$/\1 .../; s/^/   /' "$work/sim.log"
}

same_memory() {
  if cmp -s "$work/expected.bin" "$1"; then
    echo "-- the device holds exactly the image's data ($(stat -c %s "$1") bytes)"
  else
    echo "-- the device's memory differs from the image's data" >&2
    exit 1
  fi
}

echo
echo "== KT-58NET: XPort on 127.0.0.1:30718, data port on TCP (takes about 15 s: the XPort settles twice)"
start_sim --port 0 --xport --dump "$work/net.bin"
port=$(sed -nE 's/.*listening on [0-9.]+:([0-9]+).*/\1/p' "$work/sim.log")
"$bin/console/kt5cufirm" --method network --ip 127.0.0.1 --tcp-port "$port" --image sim/sample-firmware.hex --yes
stop_sim
same_memory "$work/net.bin"

echo
echo "== KT-58CU: the serial port is a pseudo-terminal paced as a 115200 baud line (about 7 s)"
start_sim --pty --baud 115200 --dump "$work/cu.bin"
device=$(sed -nE 's/.*serial port (.*)$/\1/p' "$work/sim.log")
"$bin/console/kt5cufirm" --device "$device" --image sim/sample-firmware.hex --yes
stop_sim
same_memory "$work/cu.bin"

echo
echo "Both updates were complete."
