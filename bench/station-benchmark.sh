#!/usr/bin/env bash
# The station (Release build) over simulated devices on links paced like USB full speed
# (1 MB/s, 1 ms a round trip): a 2 MiB image and the MAC file on every device, once, for 1,
# 4, 8 and 16 devices. For each count, over the runs (median and range):
#   - each device's image upload as a share of what its link allows with one block in
#     flight (the slowest device of the run counts);
#   - the station's own CPU (user + system, the operating system's accounting of the
#     finished process; the simulators are not counted) per device, in % of one core.
#   bench/station-benchmark.sh [--runs N] [--slots "1 4 8 16"]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=3
slot_counts="1 4 8 16"
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=$2; shift 2 ;;
        --slots) slot_counts=$2; shift 2 ;;
        *) echo "usage: $0 [--runs N] [--slots \"1 4 8 16\"]" >&2; exit 2 ;;
    esac
done

rate=1000000
latency_ms=1
bash scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DUSB_BUILD_GUI=OFF -DUSB_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target usb-file-utility-cli device-simulator
cli=$(pwd)/build-release/src/cli/usb-file-utility-cli
simulator=$(pwd)/build-release/tools/device-simulator/device-simulator

work=$(mktemp -d /tmp/usb-file-utility-station-bench.XXXXXX)
pids=()
stop_devices() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    pids=()
}
trap 'stop_devices; rm -rf "$work"' EXIT
head -c $((2 << 20)) /dev/urandom > "$work/image.bin"

echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(date -u +%Y-%m-%d)"
printf '%-6s %-30s %-34s\n' slots "upload / link limit (slowest)" "station CPU per slot, % of a core"
for slots in $slot_counts; do
    ports=
    for n in $(seq "$slots"); do
        mkdir -p "$work/dev$n/mnt/nandfs"
        printf '00:1a:2b:3c:4d:%02x\n' "$n" > "$work/dev$n/mnt/nandfs/macAddress.txt"
        "$simulator" --root "$work/dev$n" --link "$work/port$n" --rate "$rate" --latency-ms "$latency_ms" \
            > "$work/sim$n.out" 2> "$work/sim$n.err" &
        pids+=($!)
        ports+="$work/port$n;"
    done
    for n in $(seq "$slots"); do
        for _ in $(seq 100); do [ -L "$work/port$n" ] && break; sleep 0.05; done
    done
    : > "$work/results"
    for _ in $(seq "$runs"); do
        # The shell's "times" gives the CPU of the children it waited for: the station alone.
        USB_FILE_UTILITY_PORTS=$ports bash -c '
            start=$(date +%s.%N)
            "$0" station --image "$1" --getmac "$2" --json --quiet > "$3" || exit 1
            end=$(date +%s.%N)
            times > "$3.cpu"
            echo "$start $end $(tail -n 1 "$3.cpu")"' \
            "$cli" "$work/image.bin" "$work/macs" "$work/events" > "$work/times"
        python3 - "$work/events" "$work/times" "$slots" "$rate" "$latency_ms" >> "$work/results" <<'PY'
import json, math, sys
events = [json.loads(line) for line in open(sys.argv[1])]
start, end, user, system = open(sys.argv[2]).read().split()
slots, rate, latency = int(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5]) / 1000
seconds = lambda t: float(t.split("m")[0]) * 60 + float(t.split("m")[1].rstrip("s"))
assert sum(e["event"] == "passed" for e in events) == slots, "not every device passed"
image = 2 << 20
blocks = math.ceil(image / 8169)
# One write request (header 6 + serial 4 + handle 8 + count 4 + data) and its 10-byte answer per block.
limit = blocks * latency + (image + blocks * (22 + 10)) / rate
updates = [e["seconds"] for e in events if e["event"] == "step" and e["step"] == "update"]
cpu = seconds(user) + seconds(system)
wall = float(end) - float(start)
print(limit / max(updates), 100 * cpu / wall / slots)
PY
    done
    python3 - "$work/results" "$slots" <<'PY'
import statistics, sys
rows = [list(map(float, line.split())) for line in open(sys.argv[1])]
def figure(values, fmt):
    return f"{fmt.format(statistics.median(values))} ({fmt.format(min(values))}-{fmt.format(max(values))})"
share, cpu = zip(*rows)
print(f"{sys.argv[2]:<6} {figure(share, '{:.3f}'):<30} {figure(cpu, '{:.2f}'):<34}")
PY
    stop_devices
    rm -rf "$work"/dev* "$work"/port* "$work/macs"
done
