#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under ASan + UBSan and runs each one for a while
# on the seeds in fuzz/corpus (a working copy of the corpus grows in build-fuzz/).
#   FUZZ_SECONDS=60
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DUSB_SANITIZE=ON -DUSB_BUILD_FUZZERS=ON -DUSB_BUILD_GUI=OFF \
      -DUSB_BUILD_TESTS=OFF -DUSB_BUILD_TOOLS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target receiver_fuzzer

work=build-fuzz/corpus/receiver
mkdir -p "$work"
cp -n fuzz/corpus/receiver/* "$work"/
./build-fuzz/fuzz/receiver_fuzzer -max_total_time="$seconds" -max_len=65536 \
    -print_final_stats=1 "$work" 2>&1 | tail -n 25
