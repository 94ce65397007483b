#!/usr/bin/env bash
# Builds the benchmarks in Release (with OpenCV, the peer of the end-to-end
# benchmark) and runs them, then the Python package's benchmark against
# scikit-image and OpenCV. Pass a Google Benchmark filter as the first
# argument to run a subset, e.g. scripts/bench.sh '1MP|png'.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build-essential cmake libgtest-dev libbenchmark-dev libpng-dev libopencv-dev pkg-config \
  pybind11-dev python3-dev python3-numpy python3-skimage python3-opencv
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DCBLOB_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j"$(nproc)"
filter="${1:-.}"
for bench in build/bench/bench/*_bench; do
  echo "== $bench"
  "$bench" --benchmark_filter="$filter"
done
echo "== bench/python_bench.py"
PYTHONPATH=build/bench/python /usr/bin/python3 bench/python_bench.py
