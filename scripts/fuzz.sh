#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under ASan + UBSan (optimised, for more runs a
# second) and runs each one for a while on its seeds in fuzz/corpus/TARGET (a working copy
# of each corpus grows in build-fuzz/):
#   receiver   the host's receiver, response decoding and notification dispatch
#   request    the device simulator's request decoding
# Exits non-zero when a target finds a crash (the input is kept in build-fuzz/crashes/).
#   FUZZ_SECONDS=60   seconds for all targets together, shared out evenly
#   FUZZ_TARGETS="receiver request"
set -euo pipefail
cd "$(dirname "$0")/.."
targets=(${FUZZ_TARGETS:-receiver request})
seconds=$(( ${FUZZ_SECONDS:-60} / ${#targets[@]} ))
[ "$seconds" -ge 1 ] || seconds=1

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DUSB_SANITIZE=address -DUSB_BUILD_FUZZERS=ON -DUSB_BUILD_GUI=OFF \
      -DUSB_BUILD_TESTS=OFF -DUSB_BUILD_TOOLS=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/%/_fuzzer}"

mkdir -p build-fuzz/crashes
status=0
for target in "${targets[@]}"; do
    work=build-fuzz/corpus/$target
    mkdir -p "$work"
    cp -n "fuzz/corpus/$target"/* "$work"/
    echo "--- ${target}_fuzzer, $seconds s"
    if "./build-fuzz/fuzz/${target}_fuzzer" -max_total_time="$seconds" -max_len=65536 \
           -artifact_prefix="build-fuzz/crashes/$target-" -print_final_stats=1 "$work" \
           > "build-fuzz/$target.log" 2>&1; then
        grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::average_exec_per_sec)' "build-fuzz/$target.log" || true
    else
        status=1
        tail -n 40 "build-fuzz/$target.log"
    fi
done
exit $status
