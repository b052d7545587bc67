# Sourced by scripts that run Windows programs: starts a private Xvfb display and a
# throw-away 32-bit Wine prefix with a persistent wineserver, and removes both on exit.
# Callers that already have DISPLAY and WINEPREFIX may set KV_REUSE_WINE=1 to keep them.

start_wine_session() {
  export WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
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
  wineboot -i >/dev/null 2>&1
  wineserver -p || true  # stays up between programs, so each starts in a fraction of a second
}

stop_wine_session() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${kv_xvfb_pid:-}" ] && kill "$kv_xvfb_pid" >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
}
