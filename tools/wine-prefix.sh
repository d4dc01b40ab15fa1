#!/usr/bin/env bash
# Makes the Wine prefix the tests and the screenshots use (WINEPREFIX): a fresh
# wineboot, then the dialog's fonts mapped to installed ones (wine-fonts.reg).
set -euo pipefail
: "${WINEPREFIX:?set WINEPREFIX to the prefix to make}"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
fonts="$(cd "$(dirname "$0")" && pwd)/wine-fonts.reg"
wineboot -i
# Wine draws the caption buttons with its Marlett font; Debian's Wine does not
# find its own copy, so the prefix gets one.
if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
fi
# Z: is Wine's drive for the Unix root.
wine regedit /S "Z:${fonts//\//\\}"
wineserver -w
