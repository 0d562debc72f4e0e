#!/usr/bin/env bash
# Fails when a C++ file of the project differs from what clang-format makes of
# it. Works from a clone or a source tarball (no git needed).
# To mend: scripts/source_files.sh | xargs -0 clang-format -i
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/source_files.sh | xargs -0 clang-format --dry-run --Werror
