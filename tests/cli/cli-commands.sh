#!/usr/bin/env bash
# usb-file-utility-cli end to end: the real executable against the device simulator on
# pseudo-terminals, with real files; checks outputs, files and exit codes.
#   cli-commands.sh CLI SIMULATOR
set -u
CLI=$1
SIMULATOR=$2
work=$(mktemp -d /tmp/usb-file-utility-cli.XXXXXX)
export XDG_DATA_HOME=$work/data   # the devices' records stay in this run
declare -A simulator_pids=()

stop_simulator() {   # NAME
    local pid=${simulator_pids[$1]:-}
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
    unset "simulator_pids[$1]"
}
cleanup() {
    for name in "${!simulator_pids[@]}"; do stop_simulator "$name"; done
    [ -z "${device_name:-}" ] || rm -f "$device_name"
    [ -n "${KEEP_SESSION:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

# start_simulator NAME [RULE...]: serves $work/NAME/device on $work/NAME/port, logging
# requests to $work/NAME/requests.log.
start_simulator() {
    local name=$1; shift
    stop_simulator "$name"
    local dir=$work/$name args=()
    mkdir -p "$dir/device/mnt/nandfs"
    for rule in "$@"; do args+=(--rule "$rule"); done
    launch_simulator "$dir" "$dir/device" "${args[@]}" || return 1
    simulator_pids[$name]=$launched_pid
}

. "$(dirname "$0")/../../scripts/lib/checks.sh"

# cli ARG...: runs the tool on station a's port; sets status, leaves $work/out and $work/err.
cli() {
    USB_FILE_UTILITY_PORTS=$work/a/port "$CLI" "$@" > "$work/out" 2> "$work/err"
    status=$?
}
err_has() { grep -aqF -- "$1" "$work/err"; }
requests() { cat "$work/a/requests.log"; }
device=$work/a/device/mnt/nandfs

start_simulator a || exit 1

echo "put -r and get -r: nested folders, an empty file, one block, several blocks"
tree=$work/tree
mkdir -p "$tree/sub/deeper" "$tree/empty folder"
: > "$tree/empty"
head -c 8169 /dev/urandom > "$tree/one-block.bin"
head -c $((3 * 8169 + 5)) /dev/urandom > "$tree/sub/blocks.bin"
printf 'deep\n' > "$tree/sub/deeper/note.txt"
cli --json put -r "$tree" /mnt/nandfs/t
check "put -r exits 0" test "$status" -eq 0
check "the device holds the tree byte for byte" diff -r "$tree" "$device/t"
check "one JSON summary with the bytes sent" python3 -c '
import json, sys
lines = open(sys.argv[1]).read().splitlines()
s = json.loads(lines[0])
assert len(lines) == 1 and s["command"] == "put" and s["ok"] is True and s["bytes"] == 8169 + 3 * 8169 + 5 + 5, s
' "$work/out"
cli get -r /mnt/nandfs/t "$work/back"
check "get -r exits 0" test "$status" -eq 0
check "the fetched tree is identical" diff -r "$tree" "$work/back"
check "nothing on standard output without --json" test ! -s "$work/out"
cli get -r /mnt/nandfs/t "$work/back"
check "get -r into an existing folder makes a subfolder" diff -r "$tree" "$work/back/t"
cli put "$tree/one-block.bin" /mnt/nandfs/t/sub
check "put into a device folder keeps the name" cmp -s "$tree/one-block.bin" "$device/t/sub/one-block.bin"
check "put asks the device for the size it holds" grep -q "FileSystemEntryInfoRequest .*isFolder=0 path=/mnt/nandfs/t/sub/one-block.bin" "$work/a/requests.log"

echo "a tree with an entry the device refuses"
start_simulator a "FileOpenRequest path=/mnt/nandfs/t/sub/blocks.bin fail Busy"
cli get -r /mnt/nandfs/t "$work/partial"
check "exit code 1" test "$status" -eq 1
check "the other entries are copied" cmp -s "$tree/sub/deeper/note.txt" "$work/partial/sub/deeper/note.txt"
check "the refused file is not" test ! -e "$work/partial/sub/blocks.bin"
start_simulator a

echo "ls"
cli --json ls -l /mnt/nandfs/t
check "exit code 0" test "$status" -eq 0
check "ls -l --json: one object per entry in the File System tab's order" python3 -c '
import json, sys
entries = [json.loads(line) for line in open(sys.argv[1]).read().splitlines()]
names = [(e["name"], e["type"]) for e in entries]
assert names == [("empty", "file"), ("empty folder", "folder"), ("one-block.bin", "file"), ("sub", "folder")], names
assert entries[2]["size"] == 8169 and entries[2]["writable"] is True and entries[2]["modified"][4] == "-", entries[2]
' "$work/out"
cli ls /mnt/nandfs/t/
check "plain ls: the names, one a line" test "$(cat "$work/out")" = "$(printf 'empty\nempty folder\none-block.bin\nsub')"

echo "a name that is not UTF-8, and one with a control character"
legacy=$(printf 'caf\351')
printf 'latin' > "$device/$legacy"
printf 'hostile' > "$device/$(printf 'esc\033[2Jx')"
cli ls /mnt/nandfs
check "ls on a pipe prints the name's bytes" grep -qx "$legacy" "$work/out"
cli get "/mnt/nandfs/$legacy" "$work/legacy.txt"
check "get of that name works" test "$status" -eq 0 -a "$(cat "$work/legacy.txt" 2>/dev/null)" = latin
USB_FILE_UTILITY_PORTS=$work/a/port script -qec "'$CLI' ls /mnt/nandfs" /dev/null > "$work/tty" 2>&1
check "on a terminal the escape character is shown escaped" grep -qF "'esc'\$'\\033''[2Jx'" "$work/tty"
check "and never written as it is" test "$(tr -cd '\033' < "$work/tty" | wc -c)" -eq 0
check "an invalid byte is shown as \$'\\ooo'" grep -qF "'caf'\$'\\351'" "$work/tty"

echo "rm, mkdir, mv"
cli mkdir /mnt/nandfs/newdir
check "mkdir" test "$status" -eq 0 -a -d "$device/newdir"
cli mv /mnt/nandfs/newdir /mnt/nandfs/renamed
check "mv of a folder" test "$status" -eq 0 -a -d "$device/renamed" -a ! -e "$device/newdir"
cli rm /mnt/nandfs/renamed
check "rm of a folder without -r is refused" test "$status" -eq 1 -a -d "$device/renamed"
check "  saying why" err_has "it is a folder (use rm -r)"
cli rm -r /mnt/nandfs/renamed
check "rm -r" test "$status" -eq 0 -a ! -e "$device/renamed"
echo x > "$device/plain.txt"
cli rm /mnt/nandfs/plain.txt
check "rm of a file" test "$status" -eq 0 -a ! -e "$device/plain.txt"

cli ls -l --json /mnt/nandfs
check "a global option after the command (ls -l --json)" python3 -c '
import json, sys
lines = open(sys.argv[1]).read().splitlines()
assert lines and all("size" in json.loads(line) for line in lines), lines
' "$work/out"

echo "exit codes"
cli get /mnt/nandfs/missing "$work/missing"
check "1 when the device refuses" test "$status" -eq 1 -a ! -e "$work/missing"
cli frobnicate
check "2 for an unknown command, the usage on standard error" test "$status" -eq 2 -a ! -s "$work/out"
check "  (the usage)" err_has "Usage:"
cli ls --frob /x
check "2 for an unknown option" test "$status" -eq 2
cli get /mnt/nandfs/x
check "2 for a missing argument" test "$status" -eq 2 && check "  (the usage of get)" err_has "get [OPTIONS] REMOTE... LOCAL"
: > "$work/a/requests.log"
USB_FILE_UTILITY_PORTS="" "$CLI" --port "$work/no-such-port" identify > "$work/out" 2> "$work/err"; status=$?
check "3 when the port can't be opened" test "$status" -eq 3
mkdir -p "$work/b" && : > "$work/b/port"   # a second port that is there
USB_FILE_UTILITY_PORTS="$work/a/port;$work/b/port" "$CLI" identify > "$work/out" 2> "$work/err"; status=$?
check "3 with several ports and no --port, listing them" test "$status" -eq 3 && check "  (the list)" err_has "$work/b/port"
check "nothing was sent" test ! -s "$work/a/requests.log"
rm "$work/b/port"
cli --json identify
check "identify: one object with every field" python3 -c '
import json, sys
(o,) = [json.loads(l) for l in open(sys.argv[1]).read().splitlines()]
assert o == {"familyId": 0x12, "deviceId": 3, "protocolVersion": 0x100, "firmwareVersion": 0x204,
             "firstText": "Device simulator", "secondText": "serial 00000001"}, o
' "$work/out"

echo "update"
image=$work/image.bin
head -c 30000 /dev/urandom > "$image"
mkdir -p "$device/lib" && echo installed > "$device/lib/libm.so.2"
cli update "$image"
check "firmware present: skipped, exit 0" test "$status" -eq 0 -a ! -e "$device/KX9image"
check "  (logged as the GUI does)" err_has "Firmware already exists, skipping update"
rm -r "$device/lib"
cli update "$image"
check "firmware missing: exit 0" test "$status" -eq 0
check "the image arrived whole" cmp -s "$image" "$device/KX9image"
check "the trigger file exists, created after the size check" python3 -c '
import sys
lines = open(sys.argv[1]).read().splitlines()
check = next(i for i, l in enumerate(lines) if "FileSystemEntryInfoRequest" in l and "KX9image" in l)
trigger = next(i for i, l in enumerate(lines) if "FileOpenRequest" in l and "KX9imageDone" in l)
assert check < trigger
' "$work/a/requests.log"
rm -f "$device/KX9image" "$device/KX9imageDone"
start_simulator a "FileSystemEntryInfoRequest path=/mnt/nandfs/KX9image size 5"
cli update "$image"
check "the device reports a short image: exit 1, no trigger" test "$status" -eq 1 -a ! -e "$device/KX9imageDone"
rm -f "$device/KX9image"
start_simulator a
: > "$work/empty.bin"
cli update "$work/empty.bin"
check "an empty image: exit 1, nothing sent" test "$status" -eq 1 -a ! -s "$work/a/requests.log"

echo "getmac"
printf '00:11:22:33:44:55\n' > "$device/macAddress.txt"
cli getmac "$work/mac address.txt"
check "exit 0, the file identical" test "$status" -eq 0 && check "  (the file)" cmp -s "$device/macAddress.txt" "$work/mac address.txt"
rm "$device/macAddress.txt"
cli getmac "$work/mac2.txt"
check "no MAC file: exit 1, logged" test "$status" -eq 1 && check "  (logged)" err_has "Failed to read mac file"

echo "watch"
start_simulator a "WhoAmIRequest#1 notify event 7 42" "WhoAmIRequest#1 notify property 1,2 5 99" \
    "WhoAmIRequest#1 notify terminated 1234 -1" "WhoAmIRequest#1 notify property - 0x8000 hello"
USB_FILE_UTILITY_PORTS=$work/a/port "$CLI" --json watch > "$work/out" 2> "$work/err" &
pid=$!
for _ in $(seq 100); do [ "$(wc -l < "$work/out")" -ge 4 ] && break; sleep 0.05; done
kill -INT "$pid"; wait "$pid"; status=$?
check "ends with exit 0 when interrupted" test "$status" -eq 0
check "one JSON object per notification" python3 -c '
import json, sys
got = [json.loads(l) for l in open(sys.argv[1]).read().splitlines()]
assert got == [{"notification": "event", "id": 7, "argument": 42},
               {"notification": "property", "path": [1, 2], "id": 5, "value": 99},
               {"notification": "terminated", "process": 1234, "exitCode": -1},
               {"notification": "property", "path": [], "id": 32768, "text": "hello"}], got
' "$work/out"

echo "Ctrl-C during a slow get"
start_simulator a "FileReadRequest delay 150"
head -c $((40 * 8169)) /dev/urandom > "$device/slow.bin"
echo "old contents" > "$work/slow.bin"
USB_FILE_UTILITY_PORTS=$work/a/port "$CLI" get /mnt/nandfs/slow.bin "$work/slow.bin" > "$work/out" 2> "$work/err" &
pid=$!
for _ in $(seq 100); do [ "$(grep -c FileReadRequest "$work/a/requests.log")" -ge 3 ] && break; sleep 0.05; done
kill -INT "$pid"; wait "$pid"; status=$?
check "exit code 1" test "$status" -eq 1
check "the old local file is intact" test "$(cat "$work/slow.bin")" = "old contents"
check "no partial file is left" test "$(ls -A "$work" | grep -c slow)" -eq 1
check "the device file was closed" grep -q FileCloseRequest "$work/a/requests.log"
check "it stopped early" test "$(grep -c FileReadRequest "$work/a/requests.log")" -lt 40
check "  (logged)" err_has "Transfer cancelled."

echo "three stations at once"
for s in a b c; do
    start_simulator "$s" || exit 1
    head -c $((5 * 8169 + 17)) /dev/urandom > "$work/$s/device/mnt/nandfs/macAddress.txt"
    head -c 20000 /dev/urandom > "$work/$s/upload.bin"
done
pids=()
for s in a b c; do
    ( "$CLI" --port "$work/$s/port" getmac "$work/$s/mac.txt" &&
      "$CLI" --port "$work/$s/port" put "$work/$s/upload.bin" /mnt/nandfs/up.bin ) > /dev/null 2> "$work/$s/cli.err" &
    pids+=($!)
done
for i in 0 1 2; do wait "${pids[$i]}"; eval "status_$i=\$?"; done
check "all three exit 0" test "$status_0$status_1$status_2" = 000
for s in a b c; do
    check "station $s got its own MAC file" cmp -s "$work/$s/device/mnt/nandfs/macAddress.txt" "$work/$s/mac.txt"
    check "station $s holds its own upload" cmp -s "$work/$s/upload.bin" "$work/$s/device/mnt/nandfs/up.bin"
done

echo "streams: standard output and input, FIFOs, links"
start_simulator a || exit 1
head -c $((2 * 8169 + 7)) /dev/urandom > "$device/stream.bin"
printf '00:11:22:33:44:55\n' > "$device/macAddress.txt"
check "get F - in a pipe gives the device file" \
    test "$(USB_FILE_UTILITY_PORTS=$work/a/port "$CLI" get /mnt/nandfs/stream.bin - 2>/dev/null | sha256sum)" = "$(sha256sum < "$device/stream.bin")"
check "cat A B gives both, one after the other" \
    test "$(USB_FILE_UTILITY_PORTS=$work/a/port "$CLI" cat /mnt/nandfs/stream.bin /mnt/nandfs/macAddress.txt 2>/dev/null | sha256sum)" \
         = "$(cat "$device/stream.bin" "$device/macAddress.txt" | sha256sum)"
head -c 20000 /dev/urandom > "$work/piped.bin"
USB_FILE_UTILITY_PORTS=$work/a/port "$CLI" put - /mnt/nandfs/piped.bin < "$work/piped.bin" 2> "$work/err"
check "put - REMOTE takes standard input" cmp -s "$work/piped.bin" "$device/piped.bin"
cli getmac -
check "getmac - prints the address" test "$(cat "$work/out")" = "00:11:22:33:44:55"
echo "old" > "$work/target.bin"
ln -s "$work/target.bin" "$work/link.bin"
cli get /mnt/nandfs/stream.bin "$work/link.bin"
check "get onto a link writes through it" cmp -s "$device/stream.bin" "$work/target.bin"
check "  and the link stays" test -L "$work/link.bin"
mkfifo "$work/fifo"
cat "$work/fifo" > "$work/from-fifo" &
cli get /mnt/nandfs/stream.bin "$work/fifo"
wait $!
check "get onto a FIFO writes into it" cmp -s "$device/stream.bin" "$work/from-fifo"
check "  and the FIFO stays" test -p "$work/fifo"
if [ "$(id -u)" -eq 0 ]; then
    chmod 666 "$(cat "$work/a/simulator.out")"
    chmod 755 "$work" "$work/a"
    cp "$CLI" "$work/cli-copy"   # the build folder may be closed to other users
    setpriv --reuid=nobody --regid=nogroup --clear-groups env USB_FILE_UTILITY_PORTS=$work/a/port XDG_DATA_HOME=/tmp \
        "$work/cli-copy" get /mnt/nandfs/macAddress.txt /dev/stdout > "$work/out" 2> "$work/err"
    check "get onto /dev/stdout as an unprivileged user writes the file there" \
        cmp -s "$device/macAddress.txt" "$work/out"
fi
check "/dev/stdout is still what it was" test -L /dev/stdout
USB_FILE_UTILITY_PORTS=$work/a/port "$CLI" ls /mnt/nandfs > /dev/full 2> /dev/null
check "a write error on standard output is exit 1" test $? -eq 1

echo "failures a script can read"
for args in "ls /mnt/nandfs/nope" "stat /mnt/nandfs/nope" "get /mnt/nandfs/nope $work/nope" "cat /mnt/nandfs/nope" \
            "put $work/nope /mnt/nandfs/x" "update $work/no-image.bin" "rm /mnt/nandfs/nope" \
            "mkdir /mnt/nandfs/nope/deeper" "mv /mnt/nandfs/nope /mnt/nandfs/x"; do
    cli --json $args
    check "--json $args: exit 1 and one object with ok false and the error" python3 -c '
import json, sys
lines = open(sys.argv[1]).read().splitlines()
assert len(lines) == 1, lines
o = json.loads(lines[0])
assert o["ok"] is False and o["error"], o
' "$work/out"
done
USB_FILE_UTILITY_PORTS= "$CLI" --json identify > "$work/out" 2> /dev/null
check "--json with no port: one object, ok false" grep -q '"ok":false' "$work/out"
cli --quiet ls /mnt/nandfs/nope
check "--quiet keeps the final error line" test "$(wc -l < "$work/err")" -eq 1 -a -s "$work/err"
USB_FILE_UTILITY_PORTS="$work/gone;$work/a/port" "$CLI" ports > "$work/out" 2>&1
check "ports leaves out a named path that isn't there" test "$(cat "$work/out")" = "$work/a/port"
USB_FILE_UTILITY_PORTS="$work/gone" "$CLI" ports > /dev/null 2>&1
check "ports with none there: exit 3" test $? -eq 3

echo "several operands, patterns, ls and stat of a file, mkdir -p, mv into a folder"
start_simulator a || exit 1
mkdir -p "$device/usr/logs"
for n in 1 2 3; do echo "log $n" > "$device/usr/logs/run$n.log"; done
echo notes > "$device/usr/logs/notes.txt"
cli ls
check "ls without a path lists the home folder" test "$(cat "$work/out")" = logs
cli ls /mnt/nandfs/usr/logs/notes.txt
check "ls FILE shows the file" test "$(cat "$work/out")" = notes.txt -a "$status" -eq 0
cli --json stat /mnt/nandfs/usr/logs/notes.txt
check "stat FILE: its type and size" grep -q '"type":"file","size":6' "$work/out"
mkdir -p "$work/logs"
cli get '/mnt/nandfs/usr/logs/*.log' /mnt/nandfs/usr/logs/notes.txt "$work/logs"
check "get PATTERN FILE FOLDER copies every match and the file" test "$(ls "$work/logs" | tr '\n' ' ')" = "notes.txt run1.log run2.log run3.log "
cli get '/mnt/nandfs/usr/logs/*.bin' "$work/logs"
check "a pattern that matches nothing: exit 1" test "$status" -eq 1 && check "  and says so" err_has "Nothing on the device matches"
cli get /mnt/nandfs/usr/logs/run1.log /mnt/nandfs/usr/logs/run2.log "$work/logs/one.log"
check "several sources into a file: exit 1" test "$status" -eq 1 -a ! -e "$work/logs/one.log"
cli rm /mnt/nandfs/usr/logs/run1.log '/mnt/nandfs/usr/logs/run?.log'
check "rm A PATTERN removes them all" test "$(ls "$device/usr/logs")" = notes.txt
cli mkdir -p /mnt/nandfs/usr/a/b/c
check "mkdir -p makes the missing parents" test -d "$device/usr/a/b/c" -a "$status" -eq 0
cli mkdir -p /mnt/nandfs/usr/a/b
check "  and an existing folder is no error" test "$status" -eq 0
cli mv /mnt/nandfs/usr/logs/notes.txt /mnt/nandfs/usr/a
check "mv into an existing folder moves into it" test -f "$device/usr/a/notes.txt"

echo "choosing the device by its USB serial number, in a made-up device tree"
if [ "$(id -u)" -ne 0 ]; then
    echo "  skipped: needs root to give the simulator a device name"
else
    start_simulator a || exit 1
    sysfs=$work/sysfs
    usb=$sysfs/devices/pci0000:00/0000:00:14.0/usb1/1-4
    mkdir -p "$usb/1-4:1.0/tty/ttyACM97" "$sysfs/class/tty"
    printf '5e1d\n' > "$usb/idVendor"; printf '0b47\n' > "$usb/idProduct"
    printf '0100\n' > "$usb/bcdDevice"; printf 'UNIT-0042\n' > "$usb/serial"
    ln -s "$usb/1-4:1.0" "$usb/1-4:1.0/tty/ttyACM97/device"
    ln -s "$usb/1-4:1.0/tty/ttyACM97" "$sysfs/class/tty/ttyACM97"
    device_name=/dev/ttyACM97
    ln -sfn "$(cat "$work/a/simulator.out")" "$device_name"
    USB_FILE_UTILITY_SYSFS=$sysfs USB_FILE_UTILITY_PORTS= "$CLI" --json ports > "$work/out" 2> "$work/err"
    check "ports names where the device is plugged in and its serial number" \
        grep -qx '{"port":"/dev/ttyACM97","name":"ttyACM97","location":"1-4","serial":"UNIT-0042"}' "$work/out"
    USB_FILE_UTILITY_SYSFS=$sysfs USB_FILE_UTILITY_PORTS= "$CLI" --port UNIT-0042 identify > "$work/out" 2> "$work/err"
    check "--port takes the serial number" grep -qx "firstText: Device simulator" "$work/out"
    rm -f "$device_name"; device_name=
fi

echo "--timeout for a slow device"
start_simulator a "FileSystemEntryDeleteRequest delay 2500" || exit 1
mkdir -p "$device/big"
cli rm -r /mnt/nandfs/big
check "a delete that takes 2.5 s fails with the usual wait" test "$status" -eq 1
mkdir -p "$device/big"
start_simulator a "FileSystemEntryDeleteRequest delay 2500" || exit 1
cli rm -r --timeout 6 /mnt/nandfs/big
check "  and succeeds with --timeout 6" test "$status" -eq 0
mkdir -p "$device/big"
USB_FILE_UTILITY_TIMEOUT=6 cli rm -r /mnt/nandfs/big
check "  or USB_FILE_UTILITY_TIMEOUT=6" test "$status" -eq 0

echo "watch when the device goes away"
start_simulator a || exit 1
USB_FILE_UTILITY_PORTS=$work/a/port "$CLI" watch > "$work/out" 2> "$work/err" &
watch_pid=$!
sleep 0.5
stop_simulator a
for _ in $(seq 60); do kill -0 "$watch_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$watch_pid" 2>/dev/null && kill -INT "$watch_pid"
wait "$watch_pid"
check "watch ends with exit 1 within three seconds" test $? -eq 1

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
