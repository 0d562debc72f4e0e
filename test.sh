#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (no display needed).
source "$(dirname "${BASH_SOURCE[0]}")/scripts/common.sh"
tarvex_install_missing
tarvex_build
cd "$TARVEX_BUILD"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 "$@"
