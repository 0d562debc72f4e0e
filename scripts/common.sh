# Shared by run.sh and test.sh: install what is missing, then build.
set -euo pipefail

TARVEX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TARVEX_BUILD="${TARVEX_BUILD:-$TARVEX_ROOT/build}"

# The fonts the windows are drawn with (ui/layouts.cpp maps the layouts'
# fonts to these); the Debian package depends on them.
TARVEX_FONT_PACKAGES=(
  fonts-liberation2 fonts-league-spartan
)
# What building and running the program needs; the dial pictures are drawn
# with DejaVu Sans while building; muparser evaluates the user's equations.
TARVEX_PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-serialport-dev libgl-dev libmuparser-dev
  fonts-dejavu-core "${TARVEX_FONT_PACKAGES[@]}"
)
# What making the Debian package needs on top: dpkg-shlibdeps reads the
# binaries' library dependencies, dpkg-buildflags gives the hardening flags,
# lintian (with man-db for the manual pages) and appstreamcli check the result.
TARVEX_PACKAGE_PACKAGES=(
  dpkg-dev file lintian man-db appstream
)
# What the screenshots for the README need on top: a virtual display, a way to
# press the buttons, and a camera.
TARVEX_SCREENSHOT_PACKAGES=(
  xvfb xdotool imagemagick
)
# What the tests, benchmarks and checks need on top; the fuzz targets are
# built with clang, whose libFuzzer and sanitizer runtimes come apart.
TARVEX_TEST_PACKAGES=(
  googletest libgtest-dev libgmock-dev libbenchmark-dev libxcb1-dev
  clang-format clang libclang-rt-14-dev
)
# What the performance table needs on top: a virtual X server to time the
# start-up on.
TARVEX_BENCH_PACKAGES=(
  xvfb
)

tarvex_install_missing() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# tarvex_configure [cmake options...]
tarvex_configure() {
  cmake -S "$TARVEX_ROOT" -B "$TARVEX_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}
