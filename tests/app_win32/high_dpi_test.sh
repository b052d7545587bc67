#!/usr/bin/env bash
# Runs app_dpi_test in a throw-away Wine prefix of its own whose LogPixels is 192, then
# the main dialog's case once more at 144 (Wine 8 reads HKCU\Control Panel\Desktop, else
# the hardware profile's fonts key: both are set). The session's shared prefix is never
# changed. Usage: high_dpi_test.sh test.exe loader...
set -euo pipefail
test_program=$1
shift
export WINEPREFIX WINEDEBUG=-all
WINEPREFIX=$(mktemp -d /tmp/kelvane-dpi.XXXXXX)
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
# The main dialog's grid at 96 DPI first, for the runs at 192 and 144 to compare with.
export KV_DPI_GRID_FILE
KV_DPI_GRID_FILE=$(/usr/lib/wine/wine64 winepath -w "$WINEPREFIX/grid96.txt" 2>/dev/null)
KV_DPI_PHASE=96 "$@" "$test_program" --gtest_filter=HighDpi.MainDialog*
wineserver -w
set_dpi() {
  /usr/lib/wine/wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  /usr/lib/wine/wine64 reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' /v LogPixels \
    /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -w
}
set_dpi 192
KV_DPI_PHASE=192 "$@" "$test_program"
wineserver -w
# 150 %: cells of 12 x 24, the scale that is not a whole factor.
set_dpi 144
KV_DPI_PHASE=144 "$@" "$test_program" --gtest_filter=HighDpi.MainDialog*
