#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60) over its
# seed corpus in fuzz/corpus. New inputs go to a scratch corpus, not the
# repository. Any crash, sanitizer report or failed check stops the script.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
build="${TARVEX_FUZZ_BUILD:-$root/build-fuzz}"
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fsanitize=fuzzer-no-link -g -O1"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_TESTING=OFF -DTARVEX_FUZZ=ON -DCMAKE_CXX_FLAGS="$flags" >/dev/null
targets=(reply dtc drag sim replay)
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]/#/tarvex_fuzz_}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
for name in "${targets[@]}"; do
  mkdir -p "$scratch/$name"
  echo "fuzzing $name for ${seconds}s"
  if ! "$build/fuzz/tarvex_fuzz_$name" "$scratch/$name" "$root/fuzz/corpus/$name" \
    -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$scratch/" >"$scratch/$name.log" 2>&1; then
    tail -40 "$scratch/$name.log" >&2
    echo "fuzz target $name failed; the input is in $scratch" >&2
    trap - EXIT
    exit 1
  fi
  grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$scratch/$name.log"
done
