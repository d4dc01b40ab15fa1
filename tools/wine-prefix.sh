#!/usr/bin/env bash
# Makes the Wine prefix the tests and the screenshots use (WINEPREFIX): a fresh
# wineboot, then the dialog's fonts mapped to installed ones (wine-fonts.reg).
set -euo pipefail
: "${WINEPREFIX:?set WINEPREFIX to the prefix to make}"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
fonts="$(cd "$(dirname "$0")" && pwd)/wine-fonts.reg"
wineboot -i
# Z: is Wine's drive for the Unix root.
wine regedit /S "Z:${fonts//\//\\}"
wineserver -w
