#!/usr/bin/env bash
# Sets everything up, builds the project and runs what it has so far: the core library's
# tests (the program itself and the device simulator follow).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j "$(nproc)"
./build/tests/core_tests
