#!/usr/bin/env bash
# Builds the library and its demo and runs the demo on the bundled coins image.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build-essential cmake libpng-dev pkg-config
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DCBLOB_BUILD_TESTS=OFF -DCBLOB_BUILD_BENCH=OFF >/dev/null
cmake --build build/demo -j"$(nproc)" --target cblob_demo >/dev/null
build/demo/tools/cblob_demo samples/coins.png
