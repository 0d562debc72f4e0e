#!/usr/bin/env bash
# Installs what is missing, builds the program, the simulator and the
# benchmarks, and prints the performance table (README, "Performance").
# Arguments go to tarvex_perf, e.g. --seconds 10, --smoke, --only scan,9600,0.
# The microbenchmarks: build/bench/tarvex_bench.
# ./bench.sh replay [--lines N] [--locale NAME]: opening a long log for replay
# (time and peak resident memory; README, "Replay").
# ./bench.sh charts [options]: the charts' redraw benchmark (README, "Charts"),
# with Google Benchmark's options.
source "$(dirname "${BASH_SOURCE[0]}")/scripts/common.sh"
tarvex_install_missing "${TARVEX_PACKAGES[@]}" "${TARVEX_TEST_PACKAGES[@]}" "${TARVEX_BENCH_PACKAGES[@]}"
tarvex_configure -DBUILD_TESTING=ON
if [[ ${1:-} == replay ]]; then
  shift
  cmake --build "$TARVEX_BUILD" --parallel "$(nproc)" --target tarvex_replay_load
  exec "$TARVEX_BUILD/bench/tarvex_replay_load" "$@"
fi
if [[ ${1:-} == charts ]]; then
  shift
  cmake --build "$TARVEX_BUILD" --parallel "$(nproc)" --target tarvex_charts_bench
  exec "$TARVEX_BUILD/bench/tarvex_charts_bench" "$@"
fi
cmake --build "$TARVEX_BUILD" --parallel "$(nproc)" --target tarvex tarvex-sim tarvex_perf tarvex_bench \
  tarvex_standard_rates
# Standard data, one against six parameters a request (README, "Standard data").
"$TARVEX_BUILD/bench/tarvex_standard_rates"
exec "$TARVEX_BUILD/bench/tarvex_perf" "$@"
