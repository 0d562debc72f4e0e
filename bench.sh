#!/usr/bin/env bash
# Installs what is missing, builds the program, the simulator and the
# benchmarks, and prints the performance table (README, "Performance").
# Arguments go to tarvex_perf, e.g. --seconds 10, --smoke, --only scan,9600,0.
# The microbenchmarks: build/bench/tarvex_bench. `./bench.sh charts [options]`
# runs the charts' redraw benchmark instead (README, "Charts"), with Google
# Benchmark's options.
source "$(dirname "${BASH_SOURCE[0]}")/scripts/common.sh"
tarvex_install_missing "${TARVEX_PACKAGES[@]}" "${TARVEX_TEST_PACKAGES[@]}" "${TARVEX_BENCH_PACKAGES[@]}"
tarvex_configure -DBUILD_TESTING=ON
cmake --build "$TARVEX_BUILD" --parallel "$(nproc)" --target tarvex tarvex-sim tarvex_perf tarvex_bench tarvex_charts_bench
if [ "${1:-}" = charts ]; then
  shift
  exec "$TARVEX_BUILD/bench/tarvex_charts_bench" "$@"
fi
exec "$TARVEX_BUILD/bench/tarvex_perf" "$@"
