#!/usr/bin/env bash
# The Windows console program under Wine updates a device served by the
# native emulator: KT-58NET over Winsock (TCP and the XPort's UDP exchanges)
# and KT-58CU over a COM port that Wine maps to the emulator's pseudo-terminal.
# The image is kt58mkimage's sample, named with --image; the emulator's memory
# must equal its data afterwards. Usage: console_under_wine.sh KT58SIM KT58MKIMAGE KT5CUFIRM.EXE
set -euo pipefail
sim=$1 mkimage=$2 console=$3
if [ ! -x "$sim" ] || [ ! -x "$mkimage" ]; then
  echo "the native build's kt58sim and kt58mkimage are needed: build the linux preset first"
  exit 77
fi
runner="$(dirname "$0")/../tools/wine-run.sh"
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export LC_ALL=C KT5CUFIRM_TEST_WAITS=3000,50

"$mkimage" --bin "$work/expected.bin" --out "$work/sample.hex"
# Z: is Wine's drive for the Unix root.
image="Z:${work//\//\\}\\sample.hex"

start_sim() {
  # Emptied first: the wait below must not read the previous emulator's lines.
  : > "$work/sim.log"
  "$sim" "$@" --dump "$work/memory.bin" > "$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -qE 'listening on|serial port' "$work/sim.log" && return 0
    sleep 0.1
  done
  return 1
}

finish() {
  kill -TERM "$sim_pid"
  wait "$sim_pid"
  sim_pid=
  if ! cmp -s "$work/expected.bin" "$work/memory.bin" || ! grep -q "$2" "$work/sim.log"; then
    echo "FAIL: $1" >&2
    cat "$work/sim.log" >&2
    exit 1
  fi
  echo "ok: $1"
}

start_sim --pty
pty=$(sed -nE 's/.*serial port (.*)$/\1/p' "$work/sim.log")
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com7"
"$runner" "$console" --device com7 --image "$image" --yes
rm -f "$WINEPREFIX/dosdevices/com7"
# Wine's server keeps the port as its terminal: end it before the line hangs up.
wineserver -k 2>/dev/null || true
finish "KT-58CU on com7 (--device, lower case) under Wine" "1 complete write"

# The program and its image in a folder with a Japanese name, under a Western
# code page (Wine takes Unix names in the locale's character set, here UTF-8):
# the folder reaches the image through the wide calls.
folder="$work/ファーム更新"
mkdir "$folder"
cp "$console" "$folder/"
cp "$work/sample.hex" "$folder/kt58netcu.hex"
start_sim --port 0 --xport
port=$(sed -nE 's/.*listening on [0-9.]+:([0-9]+).*/\1/p' "$work/sim.log")
LC_ALL=C.UTF-8 "$runner" "$folder/$(basename "$console")" --method network --ip 127.0.0.1 --tcp-port "$port" --yes
finish "KT-58NET under Wine, from a Japanese folder" "XPort: 6 exchanges, setup byte 21 now 2"
