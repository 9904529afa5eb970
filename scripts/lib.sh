# Shared by the project's commands: installs what is missing, sets up the
# private Wine prefix and builds. Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=$(realpath -m "${BUILD_DIR:-$ROOT/build}")

export WINEPREFIX="$BUILD_DIR/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32

ensure_tools() {
  "$ROOT/scripts/setup"
}

build_project() {
  cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BUILD_DIR" "$@"
}

# The first start of a new prefix takes several seconds; do it once, up front.
ensure_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return
  wineboot -i >/dev/null 2>&1
  wineserver -w
}

# Keeping the server alive between processes saves seconds per process.
# Wine's background services start with the first program; starting them
# here, detached from our output, keeps them from holding a test runner's
# pipes open after its tests end.
start_wineserver() {
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wineserver() {
  wineserver -k 2>/dev/null || true
}

# Starts a virtual display unless one is given; sets DISPLAY and XVFB_PID.
start_display() {
  XVFB_PID=
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return
  fi
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do
      xdpyinfo >/dev/null 2>&1 && return
      sleep 0.1
    done
    kill "$XVFB_PID" 2>/dev/null || true
  done
  echo "could not start a virtual display" >&2
  return 1
}

stop_display() {
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}
