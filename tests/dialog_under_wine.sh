#!/usr/bin/env bash
# KT5CUfirm.exe under Wine, driven through its dialog and message boxes by
# dialog_driver, against the native emulator: each case gets an emulator of
# its own, and afterwards the emulator's memory and summary must show what the
# case did to the device. Runs on a virtual display (xvfb-run).
# Usage: dialog_under_wine.sh KT58SIM KT58MKIMAGE KT5CUFIRM.EXE DIALOG_DRIVER.EXE CONSOLE.EXE
set -euo pipefail
sim=$1 mkimage=$2 program=$3 driver=$4 console=$5
if [ ! -x "$sim" ] || [ ! -x "$mkimage" ]; then
  echo "SKIPPED: the native build's kt58sim and kt58mkimage are needed: build the linux preset first"
  exit 77
fi
runner="$(dirname "$0")/../tools/wine-run.sh"
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  rm -f "$WINEPREFIX/dosdevices/com7"
  rm -rf "$work"
}
trap cleanup EXIT
# English unless a case asks otherwise; the waits shortened, but long enough
# for the reply the emulator holds back.
export LC_ALL=C KT5CUFIRM_TEST_WAITS=3000,300

# The program beside the image it loads; Z: is Wine's drive for the Unix root.
cp "$program" "$work/KT5CUfirm.exe"
"$mkimage" --bin "$work/expected.bin" --out "$work/kt58netcu.hex"
export KT_DIALOG_EXE="Z:${work//\//\\}\\KT5CUfirm.exe"

failures=0
# KT_DIALOG_CASES, a regular expression, picks some of the cases.
wanted() { [[ $1 =~ ${KT_DIALOG_CASES:-.} ]]; }
# drive CASE [VARIABLE=VALUE...]: one case of the driver, in that environment.
drive() {
  if env "${@:2}" "$runner" "$driver" --gtest_filter="Dialog.$1" --gtest_brief=1; then
    echo "ok: $1"
  else
    echo "FAIL: $1" >&2
    failures=$((failures + 1))
  fi
}

start_sim() {
  rm -f "$work/memory.bin"
  # Emptied first: the wait below must not read the previous emulator's lines.
  : > "$work/sim.log"
  "$sim" "$@" --dump "$work/memory.bin" > "$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -qE 'listening on|serial port' "$work/sim.log" && break
    sleep 0.1
  done
  export KT_SIM_PORT=$(sed -nE 's/.*listening on [0-9.]+:([0-9]+).*/\1/p' "$work/sim.log")
}

# Stops the emulator; its summary must contain the text given, and after a
# whole write its memory must hold the image's data.
stop_sim() {
  kill -TERM "$sim_pid"
  wait "$sim_pid" || true
  sim_pid=
  if ! grep -q "$2" "$work/sim.log" || { [ "$3" = written ] && ! cmp -s "$work/expected.bin" "$work/memory.bin"; }; then
    echo "FAIL: $1: the emulator saw something else" >&2
    cat "$work/sim.log" >&2
    failures=$((failures + 1))
  fi
}

for case in VersionRecordAndManifest EmptyAddressIsRefusedAndEscEndsTheProgram ExitEndsTheProgram; do
  wanted $case && drive $case
done

# Request 300 is a record half-way through the image.
if wanted NetworkUpdate; then
  start_sim --port 0 --xport --late-reply 300:1500
  drive NetworkUpdate
  stop_sim NetworkUpdate "1 complete write" written
fi

if wanted DeclinedUpdateWritesNothing; then
  start_sim --port 0 --xport
  drive DeclinedUpdateWritesNothing
  stop_sim DeclinedUpdateWritesNothing "0 erase, 0 records" none
fi

if wanted SilentDeviceShowsAnErrorBox; then
  start_sim --port 0 --xport --silent-from 1
  drive SilentDeviceShowsAnErrorBox
  stop_sim SilentDeviceShowsAnErrorBox "0 erase, 0 records" none
fi

if wanted JapaneseDialogEndToEnd; then
  start_sim --port 0 --xport --late-reply 300:1500
  drive JapaneseDialogEndToEnd LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 KT_DIALOG_LANGUAGE=ja
  stop_sim JapaneseDialogEndToEnd "1 complete write" written
fi

# Refused before anything is sent: the XPort never hears a datagram.
if wanted MalformedAddressAndPortAreRefused; then
  start_sim --port 0 --xport
  drive MalformedAddressAndPortAreRefused
  stop_sim MalformedAddressAndPortAreRefused "XPort: 0 exchanges" none
fi

if wanted MissingImageIsRefused; then
  # A folder with a Japanese name under a Western code page: Unix names in UTF-8.
  mkdir -p "$work/ファーム"
  cp "$program" "$work/ファーム/KT5CUfirm.exe"
  start_sim --port 0 --xport
  drive MissingImageIsRefused LC_ALL=C.UTF-8 KT_DIALOG_EXE="Z:${work//\//\\}\\ファーム\\KT5CUfirm.exe"
  stop_sim MissingImageIsRefused "XPort: 0 exchanges" none
fi

if wanted SerialUpdateStartedWithEnter; then
  start_sim --pty
  pty=$(sed -nE 's/.*serial port (.*)$/\1/p' "$work/sim.log")
  ln -sfn "$pty" "$WINEPREFIX/dosdevices/com7"
  drive SerialUpdateStartedWithEnter KT_COM=7
  rm -f "$WINEPREFIX/dosdevices/com7"
  # Wine's server keeps the port as its terminal: end it before the line hangs up.
  wineserver -k 2>/dev/null || true
  stop_sim SerialUpdateStartedWithEnter "1 complete write" written
fi

# The XPort's true setup kept by the dialog: an unusable record refuses the
# run; a run killed after the switch is put back by the console's repair.
if wanted UnusableKeptRecordRefusesStart; then
  start_sim --port 0 --xport
  drive UnusableKeptRecordRefusesStart
  stop_sim UnusableKeptRecordRefusesStart "XPort: 0 exchanges" none
fi

if wanted KilledAfterTheSwitch; then
  start_sim --port 0 --xport
  drive KilledAfterTheSwitch
  if ! "$runner" "$console" --restore-xport --ip 127.0.0.1 > "$work/restore.log" 2>&1; then
    echo "FAIL: KilledAfterTheSwitch: the console's repair failed" >&2
    cat "$work/restore.log" >&2
    failures=$((failures + 1))
  fi
  # query, get, put, get of the switch; get, put, get of the repair
  stop_sim KilledAfterTheSwitch "XPort: 7 exchanges, setup byte 21 now 2" none
fi

if [ $failures -ne 0 ]; then
  echo "$failures dialog case(s) failed" >&2
  exit 1
fi
echo "every dialog case passed"
