#!/usr/bin/env bash
# Builds the Debian package (tarvex, tarvex-sim, the desktop entry and the
# icon) in build-package/ and prints its path. Install it with
#   sudo apt install ./build-package/tarvex_*.deb
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
tarvex_install_missing "${TARVEX_PACKAGES[@]}" "${TARVEX_PACKAGE_PACKAGES[@]}"
TARVEX_BUILD="$TARVEX_ROOT/build-package"
tarvex_configure -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr
cmake --build "$TARVEX_BUILD" --parallel "$(nproc)"
cd "$TARVEX_BUILD"
cpack >/dev/null
ls "$TARVEX_BUILD"/tarvex_*.deb
