#!/usr/bin/env bash
# Builds everything and runs every test twice: in a Release build and in an
# AddressSanitizer + UndefinedBehaviorSanitizer build. Warnings are errors.
# The Python package's pytest suite runs in both (in the sanitizer build with
# the sanitizer runtimes preloaded into Debian's interpreter).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build-essential cmake libgtest-dev libgmock-dev libbenchmark-dev libpng-dev libtiff-dev pkg-config \
  python3 pybind11-dev python3-dev python3-numpy python3-pytest

jobs=$(nproc)
status=0

echo "== Release build"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DCBLOB_WERROR=ON >/dev/null
cmake --build build/release -j"$jobs"
echo "== Sanitizer build (ASan + UBSan)"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1 \
      -DCBLOB_SANITIZE=ON -DCBLOB_WERROR=ON -DCBLOB_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j"$jobs"

echo "== Tests, Release build"
ctest --test-dir build/release -j"$jobs" --output-on-failure --timeout 300 | tail -n 15 || status=1
echo "== Tests, sanitizer build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan -j"$jobs" --output-on-failure --timeout 600 | tail -n 15 || status=1

if [ $status -eq 0 ]; then echo "== All tests passed in both builds"; else echo "== TESTS FAILED"; fi
exit $status
