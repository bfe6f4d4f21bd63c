#!/usr/bin/env bash
# Builds the benchmarks optimised and runs them.
#   scripts/bench.sh [--mib N] [--entries N]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DUSB_BUILD_GUI=OFF -DUSB_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target transfer_benchmark
./build-release/bench/transfer_benchmark "$@"
