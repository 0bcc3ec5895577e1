# Shared by scripts/test, scripts/demo and the benchmark scripts: installs the
# Debian packages the build needs and configures/builds one build folder.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PACKAGES=(build-essential cmake ninja-build ccache pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libusb-1.0-0-dev nlohmann-json3-dev libcli11-dev zlib1g-dev
  clang libclang-rt-14-dev tshark umockdev libumockdev-dev
  dpkg-dev file lintian postgresql libpq-dev libxxhash-dev
  libcpp-httplib-dev chromium python3-websocket)
# The Windows build, its runs under Wine and its packages (scripts/test windows,
# scripts/demo windows, scripts/package windows), installed by those modes only: Xvfb is
# the screen the Win32 window draws on under Wine, nsis makes the installer, zip the zip
# (unzip lists it).
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev
  googletest wine wine64 xvfb xauth nsis zip unzip)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# install_deps [extra packages...]
install_deps() {
  local missing=()
  for p in "${PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
  fi
}

# build_tree DIR [cmake args...]
# The project's own builds treat warnings as errors; a plain configure does not.
build_tree() {
  local dir="$1"; shift
  export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ostrevane-ccache}"
  # Paths relative to the source tree, so that another clone of it hits the same cache.
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ROOT}" CCACHE_NOHASHDIR=true
  cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
    -DOSTREVANE_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

# windows_build DIR: the station cross-built for Windows in DIR (tests included).
windows_build() {
  local dir="$1"; shift
  build_tree "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchains/mingw-w64-x86_64.cmake" "$@"
}

# wine_session DIR: a fresh Wine prefix DIR/wineprefix for this run (the one the build's
# CTest emulator names), quiet, with nothing that asks a person, on a screen of its own
# (a private Xvfb display) for the windows the tests draw; the Wine server and the
# screen stay up until the calling script ends, so each program starts quickly.
wine_session() {
  export WINEPREFIX="$1/wineprefix" WINEARCH=win64 WINEDEBUG=-all
  # No offer to install Mono or Gecko: those dialogs would wait for ever.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset WAYLAND_DISPLAY
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  local t0=$SECONDS
  start_private_screen
  # The server first, kept up, so that the services wineboot starts (with no standard
  # streams of ours: a test's output pipe held open by one would never end) stay up too.
  wineserver -p </dev/null >/dev/null 2>&1
  trap 'wineserver -k 2>/dev/null || true; stop_private_screen' EXIT
  wineboot -i </dev/null >/dev/null 2>&1
  # A program that crashes ends; no debugger window waits for a click.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >/dev/null 2>&1 || true
  echo "Wine prefix $WINEPREFIX made in $(( SECONDS - t0 )) s (display $DISPLAY)"
}

# start_private_screen: an Xvfb display no other program uses, as DISPLAY.
start_private_screen() {
  local n
  for n in $(seq 91 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset </dev/null >/dev/null 2>&1 &
    XVFB_PID=$!
    local i
    for i in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && { export DISPLAY=":$n"; return 0; }
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
  done
  echo "no Xvfb display could be started" >&2
  return 1
}

stop_private_screen() {
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}
