#!/usr/bin/env bash
# Installs what is missing, checks formatting and include floors, builds
# everything and runs every test (no display needed). Arguments go to ctest.
source "$(dirname "${BASH_SOURCE[0]}")/scripts/common.sh"
tarvex_install_missing "${TARVEX_PACKAGES[@]}" "${TARVEX_TEST_PACKAGES[@]}"
"$TARVEX_ROOT/scripts/check_format.sh"
"$TARVEX_ROOT/scripts/check_floors.sh"
tarvex_configure -DBUILD_TESTING=ON
cmake --build "$TARVEX_BUILD" --parallel "$(nproc)"
cd "$TARVEX_BUILD"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 "$@"
# The fuzz targets, briefly, so they cannot rot; longer runs: scripts/fuzz.sh.
if command -v clang++ >/dev/null; then
  "$TARVEX_ROOT/scripts/fuzz.sh" 5
else
  echo "Fuzz runs skipped: clang++ is not installed (the fuzz targets need clang with libFuzzer)."
fi
