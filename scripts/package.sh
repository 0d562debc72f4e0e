#!/usr/bin/env bash
# Builds the Debian package (tarvex, tarvex-sim, the desktop entry, icon,
# AppStream metadata, manual pages, copyright and changelog) in
# build-package/ with Debian's hardening flags, checks it with lintian (no
# error and no warning may remain) and prints its path. Install it with
#   sudo apt install ./build-package/tarvex_*.deb
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
tarvex_install_missing "${TARVEX_PACKAGES[@]}" "${TARVEX_PACKAGE_PACKAGES[@]}"
TARVEX_BUILD="$TARVEX_ROOT/build-package"
cd "$TARVEX_ROOT"

# The flags Debian builds its packages with, all hardening on: fortified
# functions (with the optimisation they need), stack protector, read-only
# relocations and immediate binding.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1"; }
tarvex_configure -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)"
cmake --build "$TARVEX_BUILD" --parallel "$(nproc)"
rm -f "$TARVEX_BUILD"/tarvex_*.deb
(cd "$TARVEX_BUILD" && cpack >/dev/null)
deb=$(ls "$TARVEX_BUILD"/tarvex_*.deb)

appstreamcli validate --no-net dist/*.metainfo.xml >/dev/null
depends=$(dpkg-deb -f "$deb" Depends)
for font in "${TARVEX_FONT_PACKAGES[@]}"; do
  [[ ", $depends," == *", $font"[\ ,]* ]] || { echo "$deb does not depend on $font" >&2; exit 1; }
done
# The one override, with its reason, is dist/tarvex.lintian-overrides.
lintian --fail-on error,warning --display-info "$deb" >&2
echo "$deb"
