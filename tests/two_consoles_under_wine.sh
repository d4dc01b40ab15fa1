#!/usr/bin/env bash
# Two Windows console programs under Wine at once, each updating its own
# native emulator over a COM port. The first waits at its question on a
# terminal while the second runs a whole update with --yes; the second's run
# must not answer for the first, which is still asking afterwards, is then
# answered No and erases nothing. Usage: two_consoles_under_wine.sh KT58SIM KT5CUFIRM.EXE
set -euo pipefail
sim=$1 console=$2
if [ ! -x "$sim" ]; then
  echo "the native build's kt58sim is needed: build the linux preset first"
  exit 77
fi
runner="$(cd "$(dirname "$0")/../tools" && pwd)/wine-run.sh"
# The emulator's sample, named with --image; Z: is Wine's drive for the Unix root.
sample="$(cd "$(dirname "$0")/../sim" && pwd)/sample-firmware.hex"
image="Z:${sample//\//\\}"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -f "$WINEPREFIX/dosdevices/com7" "$WINEPREFIX/dosdevices/com8"
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export LC_ALL=C KT5CUFIRM_TEST_WAITS=3000,50

fail() {
  echo "FAIL: $1" >&2
  for f in "$work"/*.log "$work"/*.out; do echo "--- $f" >&2; cat "$f" >&2; done
  exit 1
}

# Starts an emulator on a pseudo-terminal and maps it to COM$2.
start_sim() {
  "$sim" --pty > "$work/$1.log" 2>&1 &
  pids+=($!)
  eval "$1_pid=$!"
  for _ in $(seq 100); do
    if grep -q 'serial port' "$work/$1.log"; then
      ln -sfn "$(sed -nE 's/.*serial port (.*)$/\1/p' "$work/$1.log")" "$WINEPREFIX/dosdevices/com$2"
      return 0
    fi
    sleep 0.1
  done
  fail "kt58sim did not start"
}

# What a terminal shows, without Wine's cursor controls (a space is one).
shown() {
  sed -E 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$1"
}

# Waits until the terminal output $1 shows text $2 or process $3 has ended.
await() {
  for _ in $(seq 600); do
    shown "$1" | grep -q "$2" && return 0
    kill -0 "$3" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

stop_sim() {
  kill -TERM "$1"
  wait "$1" || true
}

start_sim first 7
start_sim second 8

# The first program on a terminal, its keyboard a pipe held open until the answer.
mkfifo "$work/keys"
timeout 300 script -qfec "'$runner' '$console' --com 7 --image '$image'" /dev/null < "$work/keys" > "$work/first.out" 2>&1 &
first=$!
pids+=("$first")
exec 3> "$work/keys"
await "$work/first.out" 'y/N' "$first" || fail "the first program did not ask"

if ! timeout 60 "$runner" "$console" --com 8 --image "$image" --yes > "$work/second.out" 2>&1; then
  fail "the second program's update did not succeed"
fi
kill -0 "$first" 2>/dev/null || fail "the first program stopped asking while the second ran"
shown "$work/first.out" | grep -q 'Erasing' && fail "the first program erased without an answer"

printf 'n\r' >&3
exec 3>&-
status=0
wait "$first" || status=$?
[ "$status" -eq 1 ] || fail "the first program, answered No, ended with $status"

stop_sim "$second_pid"
stop_sim "$first_pid"
grep -q ' 1 complete write' "$work/second.log" || fail "the second device was not written"
grep -q ' 0 erase,' "$work/first.log" || fail "the first device was erased"
echo "ok: two console programs at once, each answered only by its own user"
