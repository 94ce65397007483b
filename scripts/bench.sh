#!/usr/bin/env bash
# Builds the benchmarks in Release (with OpenCV, the peer of the end-to-end
# benchmark) and runs them. Pass a Google Benchmark filter as the first
# argument to run a subset, e.g. scripts/bench.sh '1MP|png'.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build-essential cmake libgtest-dev libbenchmark-dev libpng-dev libopencv-dev pkg-config
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DCBLOB_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j"$(nproc)"
filter="${1:-.}"
for bench in build/bench/bench/*_bench; do
  echo "== $bench"
  "$bench" --benchmark_filter="$filter"
done
