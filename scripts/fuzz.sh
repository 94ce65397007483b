#!/usr/bin/env bash
# Runs one libFuzzer target for a while: scripts/fuzz.sh TARGET SECONDS
# TARGET is run, rle_rows or image_readers (tests/fuzz/fuzz_TARGET.cpp).
# Builds the library and the target with clang (-fsanitize=fuzzer,address,
# undefined) in build/fuzz, starts from the seeds in tests/corpus/TARGET and
# keeps what it finds new in build/fuzz/corpus/TARGET (copy an input worth
# keeping, such as a crash, into tests/corpus/TARGET). One process on one core.
# Extra arguments after SECONDS go to libFuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then
  echo "usage: scripts/fuzz.sh TARGET SECONDS [libFuzzer options]" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2
scripts/deps.sh clang libfuzzer-14-dev cmake libpng-dev libtiff-dev pkg-config
cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCBLOB_FUZZ=ON -DCBLOB_BUILD_TESTS=OFF -DCBLOB_BUILD_BENCH=OFF >/dev/null
cmake --build build/fuzz -j2 --target "fuzz_$target"
mkdir -p "build/fuzz/corpus/$target" "build/fuzz/artifacts/$target"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "build/fuzz/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="build/fuzz/artifacts/$target/" "$@" "build/fuzz/corpus/$target" "tests/corpus/$target"
