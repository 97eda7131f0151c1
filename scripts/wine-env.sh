# Shared by scripts/test and scripts/demo: a throwaway 64-bit Wine prefix set
# up for unattended runs, a private Xvfb display, and a persistent wineserver.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

wine_prefix_create() {
  export WINEPREFIX="$1"
  WINEARCH=win64 wineboot -i >/dev/null 2>&1
  # A crash prints a backtrace and exits instead of waiting in a dialog.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  # Caption bars without a window manager.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
}

# Starts Xvfb on a free display, exports DISPLAY and prints its pid.
start_xvfb() {
  local display=99
  while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  local pid=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
  echo "$display" > "$WINEPREFIX/.display"
  echo "$pid"
}

# A persistent, warmed server: test processes start fast and never hang on it.
wine_server_start() {
  export DISPLAY=":$(cat "$WINEPREFIX/.display")"
  wineserver -k >/dev/null 2>&1 || true
  wineserver -p >/dev/null 2>&1 || true
  wine cmd /c exit </dev/null >/dev/null 2>&1
}
