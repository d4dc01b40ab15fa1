#!/usr/bin/env bash
# Runs a Windows executable under Wine with the prefix the test run made
# (WINEPREFIX, set by CTest) and no debug noise.
set -euo pipefail
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$@"
