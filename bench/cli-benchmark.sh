#!/usr/bin/env bash
# Throughput of get and put through usb-file-utility-cli (Release build) against the
# device simulator on a pseudo-terminal with no device delay: each run is one process of
# the tool, timed from start to exit, beside the transfer time the tool reports itself.
# Prints the median and the range over the runs.
#   bench/cli-benchmark.sh [--mib N] [--runs N]      (defaults: 16 MiB, 5 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
mib=16
runs=5
while [ $# -gt 0 ]; do
    case $1 in
        --mib) mib=$2; shift 2 ;;
        --mib=*) mib=${1#*=}; shift ;;
        --runs) runs=$2; shift 2 ;;
        --runs=*) runs=${1#*=}; shift ;;
        *) echo "usage: $0 [--mib N] [--runs N]" >&2; exit 2 ;;
    esac
done

bash scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DUSB_BUILD_GUI=OFF -DUSB_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target usb-file-utility-cli device-simulator
cli=build-release/src/cli/usb-file-utility-cli
simulator=build-release/tools/device-simulator/device-simulator

work=$(mktemp -d /tmp/usb-file-utility-cli-bench.XXXXXX)
simulator_pid=""
cleanup() {
    [ -n "$simulator_pid" ] && { kill "$simulator_pid" 2>/dev/null || true; wait "$simulator_pid" 2>/dev/null || true; }
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/device/mnt/nandfs"
"$simulator" --root "$work/device" --link "$work/port" > "$work/simulator.out" 2> "$work/simulator.err" &
simulator_pid=$!
for _ in $(seq 100); do [ -s "$work/simulator.out" ] && [ -L "$work/port" ] && break; sleep 0.05; done
head -c $((mib << 20)) /dev/urandom > "$work/local.bin"

# run COMMAND ARG...: one timed run; appends "wall-seconds transfer-seconds" to $work/COMMAND.
run() {
    local command=$1; shift
    local start end
    start=$(date +%s.%N)
    "$cli" --port "$work/port" --json --quiet "$command" "$@" > "$work/summary"
    end=$(date +%s.%N)
    cmp -s "$work/local.bin" "$work/device/mnt/nandfs/bench.bin" || { echo "$command: the copy differs" >&2; exit 1; }
    python3 -c 'import json, sys; print(float(sys.argv[2]) - float(sys.argv[1]), json.load(open(sys.argv[3]))["seconds"])' \
        "$start" "$end" "$work/summary" >> "$work/$command"
}

for _ in $(seq "$runs"); do
    run put "$work/local.bin" /mnt/nandfs/bench.bin
    run get /mnt/nandfs/bench.bin "$work/fetched.bin"
    cmp -s "$work/local.bin" "$work/fetched.bin" || { echo "get: the fetched file differs" >&2; exit 1; }
done

echo "usb-file-utility-cli, $mib MiB, $runs runs each (median [min - max])"
python3 - "$mib" "$work/put" "$work/get" <<'PY'
import statistics, sys
mib = int(sys.argv[1])
for path in sys.argv[2:]:
    rows = [tuple(map(float, line.split())) for line in open(path)]
    for column, label in ((0, "whole process"), (1, "transfer")):
        seconds = [row[column] for row in rows]
        rates = sorted(mib * 8 / s for s in seconds)   # MBit/s, 1 MBit = 2^20 bits
        print(f"  {path.rsplit('/', 1)[1]:3} {label:13}: {statistics.median(seconds):7.3f} s "
              f"[{min(seconds):.3f} - {max(seconds):.3f}]  "
              f"{statistics.median(rates):7.2f} MBit/s [{rates[0]:.2f} - {rates[-1]:.2f}]")
PY
