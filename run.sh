#!/usr/bin/env bash
# Installs what is missing, builds what it runs, and starts Tarvex. Without
# arguments it runs against the simulated adapter and car; arguments pass
# through, e.g.
#   ./run.sh --port /dev/ttyUSB0
source "$(dirname "${BASH_SOURCE[0]}")/scripts/common.sh"
tarvex_install_missing "${TARVEX_PACKAGES[@]}"
tarvex_configure -DBUILD_TESTING=OFF
cmake --build "$TARVEX_BUILD" --parallel "$(nproc)" --target tarvex tarvex-sim
if [ $# -eq 0 ]; then
  set -- --demo
fi
exec "$TARVEX_BUILD/app/tarvex" "$@"
