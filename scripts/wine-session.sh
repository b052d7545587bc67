# Sourced by scripts that run Windows programs: starts a private Xvfb display and a
# throw-away 64-bit Wine prefix with a persistent wineserver, and removes both on exit.
# The prefix runs 64-bit programs everywhere and 32-bit ones where the kernel allows.
# KV_NO_WINE32=1 makes a machine that can run 32-bit programs behave as one that cannot.
# Callers that already have DISPLAY and WINEPREFIX may set KV_REUSE_WINE=1 to keep them.

# 64-bit Wine is started through its own loader: the `wine` wrapper prefers the
# 32-bit one whenever it is installed, even where it cannot run.
KV_WINE64=/usr/lib/wine/wine64
KV_WINE32=/usr/lib/wine/wine

# Sets kv_wine32_ok=1 when this machine can run 32-bit Windows programs; otherwise 0
# and kv_wine32_why says why, in a few words.
probe_wine32() {
  kv_wine32_ok=0
  if [ "${KV_NO_WINE32:-0}" = 1 ]; then
    kv_wine32_why="KV_NO_WINE32=1 asks to behave as on a machine without 32-bit support"
  elif [ ! -x "$KV_WINE32" ]; then
    kv_wine32_why="the 32-bit Wine loader ($KV_WINE32) is not installed"
  elif ! "$KV_WINE32" --version >/dev/null 2>&1; then
    kv_wine32_why="this kernel cannot run 32-bit programs (the 32-bit Wine loader does not start)"
  else
    kv_wine32_ok=1
    kv_wine32_why=""
  fi
}

# The build tree whose programs run here: the 32-bit product where possible.
kv_windows_tree() {
  probe_wine32
  if [ "$kv_wine32_ok" = 1 ]; then echo win32; else echo win64; fi
}

# Runs a Windows program of either bitness (the 64-bit loader hands 32-bit programs on).
kv_wine() { "$KV_WINE64" "$@"; }

start_wine_session() {
  # winemenubuilder would copy every shortcut an installer makes into this machine's own
  # desktop menus, outside the throw-away prefix.
  export WINEARCH=win64 WINELOADER=$KV_WINE64 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [ "${KV_REUSE_WINE:-0}" = 1 ] && [ -n "${DISPLAY:-}" ] && [ -n "${WINEPREFIX:-}" ]; then
    return 0
  fi
  local display=90
  while [ -e "/tmp/.X${display}-lock" ]; do display=$((display + 1)); done
  export DISPLAY=":$display"
  Xvfb "$DISPLAY" -screen 0 "${KV_SCREEN:-1024x768x24}" -br -nolisten tcp >/dev/null 2>&1 &
  kv_xvfb_pid=$!
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d /tmp/kelvane-wine.XXXXXX)
  trap stop_wine_session EXIT
  # Xvfb needs a moment before the first client connects.
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
  "$KV_WINE64" wineboot -i >/dev/null 2>&1
  wineserver -p || true  # stays up between programs, so each starts in a fraction of a second
}

stop_wine_session() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${kv_xvfb_pid:-}" ] && kill "$kv_xvfb_pid" >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
}
