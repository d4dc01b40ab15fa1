#!/usr/bin/env bash
# Photographs KT5CUfirm.exe's dialog under Wine, in English and Japanese, idle
# and half-way through a KT-58CU update against the emulator, into
# docs/dialog-{en,ja}-{idle,running}.png. Wine runs in a virtual desktop of a
# prefix of its own (build/windows/screenshot-prefix), so the dialog is drawn
# with its frame and caption, on a virtual X display.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

tools/install-deps.sh --screenshots
for preset in linux windows; do
  cmake --preset "$preset" >/dev/null
done
cmake --build --preset linux --target kt58sim kt58mkimage
cmake --build --preset windows --target KT5CUfirm dialog_driver

export WINEPREFIX=$root/build/windows/screenshot-prefix WINEDEBUG=-all
[ -f "$WINEPREFIX/system.reg" ] || tools/wine-prefix.sh
cat > "$root/build/windows/desktop.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="560x400"
REG
wine regedit /S "Z:${root//\//\\}\\build\\windows\\desktop.reg"
wineserver -w

work=$(mktemp -d)
sim_pid= xvfb_pid= driver_pid=
cleanup() {
  for pid in $driver_pid $sim_pid $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 560x400x24 -nolisten tcp 3> "$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")

cp build/windows/app/KT5CUfirm.exe "$work/"
build/linux/sim/kt58mkimage --out "$work/kt58netcu.hex"
export KT_DIALOG_EXE="Z:${work//\//\\}\\KT5CUfirm.exe"
# The emulator holds back the reply to record 500 for long enough to take the picture.
export KT5CUFIRM_TEST_WAITS=60000,300 KT_COM=7

# shoot NAME POSE [VARIABLE=VALUE...]
shoot() {
  local name=$1 pose=$2
  shift 2
  # The run goes to the emulator on a pseudo-terminal that Wine sees as COM7,
  # so no network port is needed.
  build/linux/sim/kt58sim --pty --late-reply 500:30000 > "$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do grep -q 'serial port' "$work/sim.log" && break; sleep 0.1; done
  ln -sfn "$(sed -nE 's/.*serial port (.*)$/\1/p' "$work/sim.log")" "$WINEPREFIX/dosdevices/com7"

  rm -f "$work/go" "$work/pose"
  mkfifo "$work/go"
  env "$@" tools/wine-run.sh build/windows/tests/dialog_driver.exe --pose "$pose" < "$work/go" > "$work/pose" &
  driver_pid=$!
  exec 4> "$work/go"
  for _ in $(seq 600); do grep -q '^ready' "$work/pose" && break; sleep 0.1; done
  read -r _ x y width height < <(grep '^ready' "$work/pose" | tr -d '\r')
  import -display "$DISPLAY" -window root -crop "${width}x${height}+${x}+${y}" +repage "docs/$name.png"
  echo >&4
  exec 4>&-
  wait "$driver_pid" || true
  driver_pid=
  rm -f "$WINEPREFIX/dosdevices/com7"
  # Wine's server keeps the port as its terminal: end it before the line hangs up.
  wineserver -k 2>/dev/null || true
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" || true
  sim_pid=
  echo "docs/$name.png"
}

mkdir -p docs
shoot dialog-en-idle idle LC_ALL=C
shoot dialog-en-running running LC_ALL=C
shoot dialog-ja-idle idle LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
shoot dialog-ja-running running LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
