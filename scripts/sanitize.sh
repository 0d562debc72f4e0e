#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in a
# build directory of its own and runs the whole test suite once. Any report
# fails the run. Arguments go to ctest.
#   scripts/sanitize.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
tarvex_install_missing "${TARVEX_PACKAGES[@]}" "${TARVEX_TEST_PACKAGES[@]}"
TARVEX_BUILD="${TARVEX_SANITIZE_BUILD:-$TARVEX_ROOT/build-sanitize}"
tarvex_configure -DBUILD_TESTING=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake --build "$TARVEX_BUILD" --parallel "$(nproc)"
cd "$TARVEX_BUILD"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 "$@"
