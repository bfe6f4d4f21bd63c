#!/usr/bin/env bash
# usb-file-utility-cli.exe under Wine: ports, identify and get against the device simulator
# on a pseudo-terminal behind COM4 (Wine's SetupAPI lists no USB device, so the port comes
# from USB_FILE_UTILITY_PORTS or --port).
#   windows-cli.sh WINE EXE SIMULATOR
# WINEPREFIX (and the other WINE* variables) come from the caller.
set -u
wine=$1
exe=$2
SIMULATOR=$3
work=$(mktemp -d /tmp/usb-file-utility-cli-wine.XXXXXX)
drive_c=$WINEPREFIX/drive_c
simulator_pid=""
second_pid=""

cleanup() {
    for pid in $simulator_pid $second_pid; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    rm -rf "$work" "$drive_c/cli-test"
    rm -f "$WINEPREFIX/dosdevices/com10" "$WINEPREFIX/dosdevices/com5"
}
trap cleanup EXIT

. "$(dirname "$0")/../../scripts/lib/checks.sh"

# cli ARG...: the tool under Wine; sets status, leaves $work/out and $work/err (CR LF lines
# made LF).
cli() {
    USB_FILE_UTILITY_PORTS=COM4 timeout --kill-after=10 120 "$wine" "$exe" "$@" > "$work/out.raw" 2> "$work/err.raw"
    status=$?
    tr -d '\r' < "$work/out.raw" > "$work/out"
    tr -d '\r' < "$work/err.raw" > "$work/err"
}

device=$work/device/mnt/nandfs
mkdir -p "$device" "$drive_c/cli-test"
head -c $((4 * 8169 + 3)) /dev/urandom > "$device/data.bin"
"$SIMULATOR" --root "$work/device" --link "$work/port" --log "$work/requests.log" > "$work/simulator.out" 2> "$work/simulator.err" &
simulator_pid=$!
for _ in $(seq 100); do [ -s "$work/simulator.out" ] && [ -L "$work/port" ] && break; sleep 0.05; done
ln -sfn "$work/port" "$WINEPREFIX/dosdevices/com4"
ln -sfn "$work/port" "$WINEPREFIX/dosdevices/com10"

echo "ports"
cli --json ports
check "exit 0, COM4 listed" test "$status" -eq 0 && check "  (as JSON)" grep -qx '{"port":"COM4","name":"COM4"}' "$work/out"

echo "identify"
cli --port COM4 identify
check "exit 0" test "$status" -eq 0
check "the device's texts" grep -qx "firstText: Device simulator" "$work/out"

echo "ports above COM9"
cli --port COM10 identify
check "plain COM10: exit 0" test "$status" -eq 0
cli --port '\\.\COM10' identify
check "\\.\COM10 as given: exit 0" test "$status" -eq 0

echo "get"
cli --json get /mnt/nandfs/data.bin 'C:\cli-test\data.bin'
check "exit 0" test "$status" -eq 0
check "the file is identical" cmp -s "$device/data.bin" "$drive_c/cli-test/data.bin"
check "the summary" python3 -c '
import json, sys
s = json.loads(open(sys.argv[1]).read())
assert s["ok"] is True and s["bytes"] == 4 * 8169 + 3 and s["local"] == "C:\\cli-test\\data.bin", s
' "$work/out"

echo "streams"
USB_FILE_UTILITY_PORTS=COM4 timeout --kill-after=10 120 "$wine" "$exe" get /mnt/nandfs/data.bin - > "$work/streamed.bin" 2> /dev/null
check "get F - gives the device file's bytes, unchanged" cmp -s "$device/data.bin" "$work/streamed.bin"
USB_FILE_UTILITY_PORTS=COM4 timeout --kill-after=10 120 "$wine" "$exe" put - /mnt/nandfs/piped.bin < "$device/data.bin" > /dev/null 2>&1
check "put - takes standard input, unchanged" cmp -s "$device/data.bin" "$device/piped.bin"
cli --json ls /mnt/nandfs/nope
check "a failure under --json: one object with ok false" test "$status" -eq 1 -a "$(grep -c '"ok":false' "$work/out")" -eq 1

echo "doctor"
cli --port COM4 doctor
check "a free, present port: exit 0" test "$status" -eq 0
check "  (the port's line)" grep -q "^ok.*COM4 is present and free" "$work/out"

echo "a station over two COM ports"
echo "00:1a:2b:3c:4d:01" > "$device/macAddress.txt"
mkdir -p "$work/second/mnt/nandfs"
echo "00:1a:2b:3c:4d:02" > "$work/second/mnt/nandfs/macAddress.txt"
"$SIMULATOR" --root "$work/second" --link "$work/second-port" > "$work/second.out" 2> "$work/second.err" &
second_pid=$!
for _ in $(seq 100); do [ -s "$work/second.out" ] && [ -L "$work/second-port" ] && break; sleep 0.05; done
ln -sfn "$work/second-port" "$WINEPREFIX/dosdevices/com5"
cli --json station --ports COM4,COM5 --getmac 'C:\cli-test\macs' --put 'C:\cli-test\data.bin=/mnt/nandfs/copy.bin'
check "exit 0" test "$status" -eq 0
check "both passed" test "$(grep -c '"event":"passed"' "$work/out")" -eq 2
check "each MAC file under its address" cmp -s "$work/second/mnt/nandfs/macAddress.txt" "$drive_c/cli-test/macs/00-1A-2B-3C-4D-02.txt"
check "  (both)" cmp -s "$device/macAddress.txt" "$drive_c/cli-test/macs/00-1A-2B-3C-4D-01.txt"
check "the upload reached both" cmp -s "$device/data.bin" "$work/second/mnt/nandfs/copy.bin"

echo "no port"
USB_FILE_UTILITY_PORTS="" timeout 120 "$wine" "$exe" identify > /dev/null 2>&1
check "exit 3" test $? -eq 3

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
