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

cleanup() {
    [ -n "$simulator_pid" ] && { kill "$simulator_pid" 2>/dev/null; wait "$simulator_pid" 2>/dev/null; }
    rm -rf "$work" "$drive_c/cli-test"
    rm -f "$WINEPREFIX/dosdevices/com10"
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

echo "doctor"
cli --port COM4 doctor
check "a free, present port: exit 0" test "$status" -eq 0
check "  (the port's line)" grep -q "^ok.*COM4 is present and free" "$work/out"

echo "no port"
USB_FILE_UTILITY_PORTS="" timeout 120 "$wine" "$exe" identify > /dev/null 2>&1
check "exit 3" test $? -eq 3

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
