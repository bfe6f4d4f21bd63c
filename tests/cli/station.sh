#!/usr/bin/env bash
# The station end to end: the real executable serving several device simulators at once,
# on pseudo-terminals, with real files: a failing device among good ones, a device that
# stops answering, devices that come and go while it watches, and Ctrl-C mid-job.
#   station.sh CLI SIMULATOR
set -u
CLI=$1
SIMULATOR=$2
work=$(mktemp -d /tmp/usb-file-utility-station.XXXXXX)
declare -A simulator_pids=()
station_pid=
# The devices' records go to this run's own default store.
export XDG_DATA_HOME=$work/data

. "$(dirname "$0")/../../scripts/lib/checks.sh"

cleanup() {
    [ -z "$station_pid" ] || { kill -9 "$station_pid" 2>/dev/null; wait "$station_pid" 2>/dev/null; }
    for name in "${!simulator_pids[@]}"; do stop_device "$name"; done
    [ -n "${KEEP_SESSION:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

# new_device NAME N: a fresh device file system with MAC address 00:1A:2B:3C:4D:0N.
new_device() {
    rm -rf "$work/$1"
    mkdir -p "$work/$1/root/mnt/nandfs/usr"
    printf '00:1a:2b:3c:4d:0%s\n' "$2" > "$work/$1/root/mnt/nandfs/macAddress.txt"
}
# start_device NAME [OPTION...]: serves $work/NAME/root on $work/NAME/port.
start_device() {
    local name=$1; shift
    launch_simulator "$work/$name" "$work/$name/root" "$@" || exit 1
    simulator_pids[$name]=$launched_pid
}
stop_device() {
    [ -n "${simulator_pids[$1]:-}" ] || return 0
    kill "${simulator_pids[$1]}" 2>/dev/null; wait "${simulator_pids[$1]}" 2>/dev/null
    unset "simulator_pids[$1]"
}
device_file() { echo "$work/$1/root/mnt/nandfs/$2"; }
ports_of() { local list= name; for name in "$@"; do list+="$work/$name/port;"; done; echo "$list"; }
# station DEVICE... -- ARG...: runs the station over those devices' ports (at most 60 s).
station() {
    local devices=()
    while [ "$1" != -- ]; do devices+=("$1"); shift; done; shift
    USB_FILE_UTILITY_PORTS=$(ports_of "${devices[@]}") timeout -k 2 60 "$CLI" station "$@" \
        > "$work/out" 2> "$work/err"
    status=$?
}
events() { grep -c "\"event\":\"$1\",\"slot\":\"$work/$2/port\"" "$work/out"; }   # EVENT DEVICE

head -c $((3 * 8169 + 100)) /dev/urandom > "$work/image.bin"
echo "setting=1" > "$work/config.bin"

echo "three devices at once, one refusing its image"
for n in 1 2 3; do new_device "dev$n" "$n"; done
start_device dev1
start_device dev2
start_device dev3 --rule 'FileWriteRequest path=/mnt/nandfs/KX9image fail "No space left"'
station dev1 dev2 dev3 -- --image "$work/image.bin" --getmac "$work/macs" \
    --put "$work/config.bin=/mnt/nandfs/usr/config.bin" --junit "$work/junit.xml" --json
check "exit code 1 (got $status)" test "$status" -eq 1
for n in 1 2; do
    check "dev$n: the image arrived whole" cmp -s "$work/image.bin" "$(device_file "dev$n" KX9image)"
    check "dev$n: and was triggered" test -f "$(device_file "dev$n" KX9imageDone)"
    check "dev$n: the upload arrived" cmp -s "$work/config.bin" "$(device_file "dev$n" usr/config.bin)"
    check "dev$n: its MAC file is named after its address" \
        cmp -s "$work/macs/00-1A-2B-3C-4D-0$n.txt" "$(device_file "dev$n" macAddress.txt)"
    check "dev$n: identified, then passed" test "$(events started "dev$n")$(events passed "dev$n")" = 11
done
check "dev3: no trigger" test ! -e "$(device_file dev3 KX9imageDone)"
check "dev3: no partial image" test ! -e "$(device_file dev3 KX9image)"
check "dev3: failed, in the update step" grep -q "\"event\":\"failed\",\"slot\":\"$work/dev3/port\".*\"step\":\"update\"" "$work/out"
check "nothing but JSON on standard output" jq -e . "$work/out" > /dev/null
check "the JUnit report: three devices, one failure" grep -q 'tests="3" failures="1"' "$work/junit.xml"
check "  naming the failing slot" \
    sh -c "grep -A4 'classname=\"station.$work/dev3/port\"' '$work/junit.xml' | grep -q '<failure'"
check "the MAC files, and nothing else, are in the folder" test "$(ls -A "$work/macs" | wc -l)" -eq 3
"$CLI" history --json > "$work/history"
check "a record of each device" python3 - "$work/history" "$work" "$(sha256sum < "$work/image.bin" | cut -d' ' -f1)" <<'PY'
import json, sys
records = {r["slot"]: r for r in map(json.loads, open(sys.argv[1]))}
work, digest = sys.argv[2], sys.argv[3]
assert len(records) == 3, records.keys()
for n in (1, 2, 3):
    r = records[f"{work}/dev{n}/port"]
    assert r["job"] == "station" and r["mac"] == f"00-1A-2B-3C-4D-0{n}", r
    assert r["image"] == {"name": "image.bin", "size": 3 * 8169 + 100, "sha256": digest}, r
    assert r["identity"]["secondText"] == "serial 00000001" and r["user"] and r["host"], r
    assert [s["name"] for s in r["steps"]] == ["open", "identify", "getmac", "put /mnt/nandfs/usr/config.bin", "update"], r
    assert r["result"] == ("failed" if n == 3 else "passed"), r
assert records[f"{work}/dev3/port"]["error"] == "update: the image did not arrive whole"
PY
"$CLI" history --mac 00:1a:2b:3c:4d:02 > "$work/history"
check "history --mac finds that device's record alone" \
    test "$(wc -l < "$work/history")" -eq 1 -a "$(grep -c "00-1A-2B-3C-4D-02" "$work/history")" -eq 1
for n in 1 2 3; do stop_device "dev$n"; done

echo "a device that stops answering mid-job"
for n in 1 2; do new_device "dev$n" "$n"; done
start_device dev1 --rule 'FileWriteRequest#2- drop'
start_device dev2 --rule 'FileWriteRequest delay 300'
station dev1 dev2 -- --image "$work/image.bin" --json
check "exit code 1 (got $status)" test "$status" -eq 1
check "the other device passed" test "$(events passed dev2)" -eq 1
check "  before the silent one failed" \
    test "$(grep -n '"event":"passed"' "$work/out" | cut -d: -f1)" -lt "$(grep -n '"event":"failed"' "$work/out" | cut -d: -f1)"
check "the silent device got no trigger" test ! -e "$(device_file dev1 KX9imageDone)"
for n in 1 2; do stop_device "dev$n"; done

echo "a records server that can't be reached"
new_device dev1 1
start_device dev1
station dev1 -- --getmac "$work/macs" --records "postgresql://127.0.0.1:9/records?connect_timeout=2"
check "exit code 1 (got $status)" test "$status" -eq 1
check "  the reason is shown" grep -q "Can't keep the devices' records" "$work/err"
check "  before any device was touched" test ! -s "$work/dev1/requests.log"
stop_device dev1

echo "a station killed mid-job"
for n in 1 2; do new_device "dev$n" "$n"; done
start_device dev1
start_device dev2 --rule 'FileWriteRequest delay 500'
USB_FILE_UTILITY_PORTS=$(ports_of dev1 dev2) "$CLI" station --image "$work/image.bin" --records "$work/killed.sqlite" \
    --json > "$work/out" 2> "$work/err" &
station_pid=$!
for _ in $(seq 200); do [ "$(events passed dev1)" -ge 1 ] && break; sleep 0.05; done
kill -KILL "$station_pid"; wait "$station_pid" 2>/dev/null; station_pid=
check "the finished device's record is there" \
    test "$("$CLI" history --records "$work/killed.sqlite" | grep -c "dev1/port")" -eq 1
check "  and nothing of the other" test "$("$CLI" history --records "$work/killed.sqlite" | wc -l)" -eq 1
for n in 1 2; do stop_device "dev$n"; done

echo "watching: devices that come and go"
for n in 1 2; do new_device "dev$n" "$n"; done
USB_FILE_UTILITY_PORTS=$(ports_of dev1 dev2) "$CLI" station --continuous --getmac "$work/macs2" --json \
    > "$work/out" 2> "$work/err" &
station_pid=$!
# wait_for COUNT EVENT DEVICE: up to 10 s for the station to report it COUNT times.
wait_for() {
    for _ in $(seq 200); do [ "$(events "$2" "$3")" -ge "$1" ] && return 0; sleep 0.05; done
    return 1
}
start_device dev1
check "a device that appears is served" wait_for 1 passed dev1
start_device dev2
check "a second one too" wait_for 1 passed dev2
stop_device dev1
sleep 1
start_device dev1
check "a device plugged in again is served again" wait_for 2 passed dev1
sleep 1
check "  once per appearance (identified once since)" test "$(grep -c WhoAmIRequest "$work/dev1/requests.log")" -eq 1
check "the other device, still there, wasn't served twice" test "$(events passed dev2)" -eq 1
kill -INT "$station_pid"
for _ in $(seq 200); do kill -0 "$station_pid" 2>/dev/null || break; sleep 0.05; done
wait "$station_pid"; status=$?; station_pid=
check "Ctrl-C ends it with exit code 0 when nothing failed (got $status)" test "$status" -eq 0
check "no device failed" test "$(grep -c '"event":"failed"' "$work/out")" -eq 0
for n in 1 2; do stop_device "dev$n"; done

echo "Ctrl-C during a job"
new_device dev1 1
head -c $((12 * 8169)) /dev/urandom > "$work/big.bin"
start_device dev1 --rule 'FileWriteRequest#2- delay 200'
USB_FILE_UTILITY_PORTS=$(ports_of dev1) "$CLI" station --image "$work/big.bin" --put "$work/big.bin=/mnt/nandfs/usr/big.bin" \
    > "$work/out" 2> "$work/err" &
station_pid=$!
for _ in $(seq 200); do [ "$(grep -c FileWriteRequest "$work/dev1/requests.log")" -ge 3 ] && break; sleep 0.05; done
kill -INT "$station_pid"
for _ in $(seq 200); do kill -0 "$station_pid" 2>/dev/null || break; sleep 0.05; done
wait "$station_pid"; status=$?; station_pid=
check "exit code 1: the device was not finished (got $status)" test "$status" -eq 1
check "no upload or temporary file left on the device" test -z "$(ls -A "$(device_file dev1 usr)")"
check "no image and no trigger" test ! -e "$(device_file dev1 KX9image)" -a ! -e "$(device_file dev1 KX9imageDone)"
check "the summary says so" grep -q "Station: 0 passed, 1 failed" "$work/out"
stop_device dev1

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed; the last station's standard error:"
    cat "$work/err"
    exit 1
fi
echo "all checks passed"
