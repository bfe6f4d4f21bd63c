#!/usr/bin/env bash
# Builds the benchmark optimised and runs all of it: the client with the simulator, the
# client's exchange over the ceiling's minimal peer, and a minimal stop-and-wait ceiling,
# in rotating rounds on a quiet machine and with one core kept busy, then the listing
# cost. Prints one Markdown table of medians and ranges (the README shows one).
#   scripts/bench.sh [--mib N] [--rounds N] [--entries N,N...] [--no-load]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DUSB_BUILD_GUI=OFF -DUSB_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target transfer_benchmark device-simulator
echo "$(uname -srm), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
./build-release/bench/transfer_benchmark "$@"
