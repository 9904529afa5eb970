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

# What every command does first: install what is missing, build (passing
# its arguments on to the build), and set up the Wine prefix.
prepare() {
  ensure_tools
  build_project "$@"
  ensure_prefix
}

# A Linux path as Wine's Z: drive spells it.
windows_path() {
  echo "Z:${1//\//\\}"
}

build_project() {
  cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BUILD_DIR" "$@"
}

# Where Debian's fonts-wine puts Wine's own fonts (Tahoma, Marlett...).
WINE_FONTS=/usr/share/wine/fonts

# The first start of a new prefix takes several seconds; do it once, up front.
ensure_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  install_wine_fonts
}

# Wine finds its fonts folder from where its loader lies; run through qemu,
# it looks beside qemu instead, finds no Tahoma and no Marlett, and draws the
# caption buttons as letters and the form's labels in a wider font. A copy
# in the prefix's own Fonts folder is found on every route.
install_wine_fonts() {
  if [ ! -d "$WINE_FONTS" ]; then
    echo "no $WINE_FONTS (package fonts-wine): windows are drawn with stand-in fonts" >&2
    return 0
  fi
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp -u "$WINE_FONTS"/* "$WINEPREFIX/drive_c/windows/Fonts/"
  # Windows draws the default GUI font ("MS Shell Dlg") as MS Sans Serif;
  # Wine's default, Tahoma, is wider, and three of the form's labels would
  # wrap where on Windows they fit.
  grep -q '^"MS Shell Dlg"="MS Sans Serif"' "$WINEPREFIX/system.reg" || {
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
      /v "MS Shell Dlg" /d "MS Sans Serif" /f >/dev/null 2>&1
    wineserver -w
  }
}

# Keeping the server alive between processes saves seconds per process.
# Wine's background services start with the first program; starting them
# here, detached from our output, keeps them from holding a test runner's
# pipes open after its tests end.
start_wineserver() {
  wineserver -p 2>/dev/null || true  # already running for this prefix
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wineserver() {
  wineserver -k 2>/dev/null || true
}

display_usable() {
  [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1
}

# Starts a virtual display unless one is given; sets DISPLAY and XVFB_PID.
# Xvfb picks and locks a free display number itself, so runs started at the
# same moment never share one.
start_display() {
  display_usable && return
  local fifo number=
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  read -r -t 20 number <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$number" ]; then
    echo "could not start a virtual display" >&2
    return 1
  fi
  export DISPLAY=":$number"
}

stop_display() {
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
  XVFB_PID=
}
