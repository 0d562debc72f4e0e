#!/usr/bin/env bash
# Prints the project's C++ files (NUL-separated, paths from the top folder),
# from a clone or an unpacked source tarball alike: no git needed. Passed over:
# hidden folders (.git, editor caches) and build trees (any folder with a
# CMakeCache.txt, wherever it lies), whose generated files are not ours.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
find . -mindepth 1 -type d \( -name '.*' -o -exec test -e '{}/CMakeCache.txt' \; \) -prune \
  -o -type f \( -name '*.cpp' -o -name '*.h' \) -printf '%P\0' | sort -z
