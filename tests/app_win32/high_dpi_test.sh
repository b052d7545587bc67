#!/usr/bin/env bash
# Runs app_dpi_test in a throw-away Wine prefix of its own whose LogPixels is 192 (Wine 8
# reads HKCU\Control Panel\Desktop, else the hardware profile's fonts key: both are set).
# The session's shared prefix is never changed. Usage: high_dpi_test.sh test.exe loader...
set -euo pipefail
test_program=$1
shift
export WINEPREFIX WINEDEBUG=-all
WINEPREFIX=$(mktemp -d /tmp/kelvane-dpi.XXXXXX)
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
# The main dialog's grid at 96 DPI first, for the run at 192 to compare with.
export KV_DPI_GRID_FILE
KV_DPI_GRID_FILE=$(/usr/lib/wine/wine64 winepath -w "$WINEPREFIX/grid96.txt" 2>/dev/null)
KV_DPI_PHASE=96 "$@" "$test_program" --gtest_filter=HighDpi.MainDialog*
wineserver -w
/usr/lib/wine/wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f >/dev/null 2>&1
/usr/lib/wine/wine64 reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' /v LogPixels \
  /t REG_DWORD /d 192 /f >/dev/null 2>&1
wineserver -w
KV_DPI_PHASE=192 "$@" "$test_program"
