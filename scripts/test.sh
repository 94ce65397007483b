#!/usr/bin/env bash
# Builds everything and runs every test twice: in a Release build and in an
# AddressSanitizer + UndefinedBehaviorSanitizer build. Warnings are errors.
# A third build with ThreadSanitizer runs the GoogleTest program (library and
# tests only) to check the band jobs, the job pool and the host hooks.
# The Python package's pytest suite runs in both (in the sanitizer build with
# the sanitizer runtimes preloaded into Debian's interpreter).
# The Release tests run a second time with every optimised routine inhibited
# through the optimisation hook (CBLOB_TEST_INHIBIT_OPTIMIZATIONS, read by the
# test program), and every fuzz seed of tests/corpus/ is replayed in both
# builds (corpus_* tests; scripts/fuzz.sh runs a fuzz target for longer).
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
echo "== ThreadSanitizer build (library and GoogleTest program)"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1 \
      -DCBLOB_TSAN=ON -DCBLOB_WERROR=ON -DCBLOB_BUILD_BENCH=OFF -DCBLOB_BUILD_TOOLS=OFF -DCBLOB_BUILD_PYTHON=OFF >/dev/null
cmake --build build/tsan -j"$jobs" --target cblob_tests

echo "== Tests, Release build"
ctest --test-dir build/release -j"$jobs" --output-on-failure --timeout 300 | tail -n 15 || status=1
echo "== Tests, Release build, optimised routines inhibited (portable paths end to end)"
CBLOB_TEST_INHIBIT_OPTIMIZATIONS=1 ctest --test-dir build/release -j"$jobs" --output-on-failure --timeout 300 \
  -E '^(package_consumer|check_layers|c_api|corpus_.*|python_.*)$' | tail -n 15 || status=1
echo "== Tests, sanitizer build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan -j"$jobs" --output-on-failure --timeout 600 | tail -n 15 || status=1

echo "== Tests, ThreadSanitizer build"
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/cblob_tests --gtest_brief=1 | tail -n 5 || status=1

if [ $status -eq 0 ]; then echo "== All tests passed in every build"; else echo "== TESTS FAILED"; fi
exit $status
