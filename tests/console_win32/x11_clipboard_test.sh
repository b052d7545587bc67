#!/usr/bin/env bash
# Copies a console rectangle under Wine (the clipboard test of console_win32_test) and
# reads it back from the X11 clipboard with xclip, as any Linux program would see it:
# box-drawing and accented characters must arrive intact, as UTF-8.
# Usage: x11_clipboard_test.sh console_win32_test.exe loader... (the CTest emulator)
set -euo pipefail
test_program=$1
shift
[ -n "${DISPLAY:-}" ] || { echo "x11 clipboard: DISPLAY is not set" >&2; exit 1; }
command -v xclip >/dev/null || { echo "x11 clipboard: xclip is missing (scripts/bootstrap installs it)" >&2; exit 1; }

# Wine's clipboard manager takes the X11 selection a moment after the program set it; on
# a loaded machine the program may end before the hand-over, and the copy is lost with it
# (an unanswered read is cut short too). So the copy is made again, at most three times.
expected=$(printf '\xe2\x95\x94\xe2\x95\x90\xe2\x95\x90\xe2\x95\x90\xe2\x95\x97\n\xe2\x95\x91\xc3\xa9\xc3\xa7\xc3\xb6\xe2\x95\x91\n\xe2\x95\x9a\xe2\x95\x90\xe2\x95\x90\xe2\x95\x90\xe2\x95\x9d')
got=
for attempt in 1 2 3; do
  "$@" "$test_program" --gtest_filter=ConsoleClipboard.CopiedRectangleReachesAnotherProcessInBothFormats
  for _ in $(seq 20); do
    got=$(timeout 1 xclip -o -selection clipboard 2>/dev/null | tr -d '\r' || true)
    [ "$got" = "$expected" ] && { echo "x11 clipboard: got the rectangle as UTF-8 (copy $attempt)"; exit 0; }
    sleep 0.1
  done
done
echo "x11 clipboard: expected" >&2
printf '%s\n' "$expected" | od -c | head -20 >&2
echo "got" >&2
printf '%s\n' "$got" | od -c | head -20 >&2
exit 1
