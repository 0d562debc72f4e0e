#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tarvex. Without arguments it
# runs against the simulated adapter and car; arguments pass through, e.g.
#   ./run.sh --port /dev/ttyUSB0
source "$(dirname "${BASH_SOURCE[0]}")/scripts/common.sh"
tarvex_install_missing
tarvex_build
if [ $# -eq 0 ]; then
  set -- --demo
fi
exec "$TARVEX_BUILD/app/tarvex" "$@"
