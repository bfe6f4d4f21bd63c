#!/usr/bin/env bash
# Throughput of get, put and put --verify through usb-file-utility-cli (Release build) against the
# device simulator on a pseudo-terminal with no device delay: each run is one process of
# the tool, timed from start to exit, beside the transfer time the tool reports itself.
# The same through the Python module (one python3 process a run, the call timed inside
# it), with the ratio of its transfer rate to the tool's. Prints the median and the range
# over the runs.
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
python_module=yes
cmake --build build-release -j "$(nproc)" --target _usb_file_utility >/dev/null 2>&1 || python_module=""
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

# run LABEL COMMAND ARG...: one timed run; appends "wall-seconds transfer-seconds" to $work/LABEL.
run() {
    local label=$1 command=$2; shift 2
    local start end
    start=$(date +%s.%N)
    "$cli" --port "$work/port" --json --quiet "$command" "$@" > "$work/summary"
    end=$(date +%s.%N)
    cmp -s "$work/local.bin" "$work/device/mnt/nandfs/bench.bin" || { echo "$command: the copy differs" >&2; exit 1; }
    python3 -c 'import json, sys; print(float(sys.argv[2]) - float(sys.argv[1]), json.load(open(sys.argv[3]))["seconds"])' \
        "$start" "$end" "$work/summary" >> "$work/$label"
}

# run_python COMMAND: the same transfer as one python3 process; appends to $work/python-COMMAND.
run_python() {
    local start end
    start=$(date +%s.%N)
    PYTHONPATH=build-release/python /usr/bin/python3 - "$1" "$work" > "$work/python-seconds" <<'PY'
import sys, time
import usb_file_utility as ufu
command, work = sys.argv[1], sys.argv[2]
with ufu.Device(work + "/port") as device:
    start = time.monotonic()
    if command == "put":
        device.put(work + "/local.bin", "/mnt/nandfs/bench.bin")
    else:
        device.get("/mnt/nandfs/bench.bin", work + "/fetched.bin")
    print(time.monotonic() - start)
PY
    end=$(date +%s.%N)
    echo "$(python3 -c 'import sys; print(float(sys.argv[2]) - float(sys.argv[1]))' "$start" "$end") $(cat "$work/python-seconds")" \
        >> "$work/python-$1"
}

tool_runs() {
    run put put "$work/local.bin" /mnt/nandfs/bench.bin
    run put-verify put --verify "$work/local.bin" /mnt/nandfs/bench.bin
    run get get /mnt/nandfs/bench.bin "$work/fetched.bin"
    cmp -s "$work/local.bin" "$work/fetched.bin" || { echo "get: the fetched file differs" >&2; exit 1; }
}
python_runs() {
    [ -n "$python_module" ] || return 0
    run_python put
    cmp -s "$work/local.bin" "$work/device/mnt/nandfs/bench.bin" || { echo "python put: the copy differs" >&2; exit 1; }
    run_python get
    cmp -s "$work/local.bin" "$work/fetched.bin" || { echo "python get: the fetched file differs" >&2; exit 1; }
}

# The tool and the module take turns, each going first every other time, so that what
# one leaves behind (the page cache, a busy disk) weighs on both alike.
for i in $(seq "$runs"); do
    if [ $((i % 2)) -eq 1 ]; then tool_runs; python_runs; else python_runs; tool_runs; fi
done

echo "usb-file-utility-cli, $mib MiB, $runs runs each (median [min - max])"
[ -n "$python_module" ] && python_files=("$work/python-put" "$work/python-get") || python_files=()
python3 - "$mib" "$work/put" "$work/put-verify" "$work/get" "${python_files[@]}" <<'PY'
import os, statistics, sys
mib = int(sys.argv[1])
transfer = {}
for path in sys.argv[2:]:
    rows = [tuple(map(float, line.split())) for line in open(path)]
    transfer[os.path.basename(path)] = statistics.median(row[1] for row in rows)
    for column, label in ((0, "whole process"), (1, "transfer")):
        seconds = [row[column] for row in rows]
        rates = sorted(mib * 8 / s for s in seconds)   # MBit/s, 1 MBit = 2^20 bits
        print(f"  {path.rsplit('/', 1)[1]:10} {label:13}: {statistics.median(seconds):7.3f} s "
              f"[{min(seconds):.3f} - {max(seconds):.3f}]  "
              f"{statistics.median(rates):7.2f} MBit/s [{rates[0]:.2f} - {rates[-1]:.2f}]")
print(f"  put --verify time / put time (transfer, medians): {transfer['put-verify'] / transfer['put']:.3f}")
for command in ("put", "get"):
    if "python-" + command in transfer:
        print(f"  python {command} rate / tool {command} rate (transfer, medians): "
              f"{transfer[command] / transfer['python-' + command]:.3f}")
PY
