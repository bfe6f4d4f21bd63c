#!/usr/bin/env bash
# usb-file-utility-cli end to end when something goes wrong: interruptions, a device that
# dies or misbehaves, local entries that can't be sent, hostile names and links on either
# side. The real executable against the device simulator, with real files.
#   safety-rules.sh CLI SIMULATOR
set -u
CLI=$1
SIMULATOR=$2
work=$(mktemp -d /tmp/usb-file-utility-safety.XXXXXX)
export XDG_DATA_HOME=$work/data   # the devices' records stay in this run
chmod 755 "$work"   # the unprivileged user below reads the port link and the local files
device=$work/device/mnt/nandfs
mkdir -p "$device"
simulator_pid=
cli_pid=

stop_simulator() {
    [ -n "$simulator_pid" ] || return 0
    kill "$simulator_pid" 2>/dev/null; wait "$simulator_pid" 2>/dev/null
    simulator_pid=
}
cleanup() {
    [ -z "$cli_pid" ] || { kill -9 "$cli_pid" 2>/dev/null; wait "$cli_pid" 2>/dev/null; }
    stop_simulator
    [ -n "${KEEP_SESSION:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

# start_simulator [OPTION...]: serves $work/device on $work/port, logging requests to
# $work/requests.log; the options go to the simulator as they are.
start_simulator() {
    stop_simulator
    launch_simulator "$work" "$work/device" "$@" || exit 1
    simulator_pid=$launched_pid
}

. "$(dirname "$0")/../../scripts/lib/checks.sh"

# cli ARG...: runs the tool (as the command $run_as, if set) for at most $limit seconds
# (default 20); sets status, leaves $work/out and $work/err.
cli() {
    USB_FILE_UTILITY_PORTS=$work/port timeout -k 2 "${limit:-20}" ${run_as:-} "$CLI" "$@" \
        > "$work/out" 2> "$work/err"
    status=$?
    note_run "$@"
}
# cli_until COUNT PATTERN SIGNAL ARG...: runs the tool, and once the request log holds
# COUNT lines matching PATTERN sends SIGNAL to it (INT) or to the simulator (KILL); the
# log as it was then is left in $work/signalled.log.
cli_until() {
    local count=$1 pattern=$2 signal=$3; shift 3
    USB_FILE_UTILITY_PORTS=$work/port "$CLI" "$@" > "$work/out" 2> "$work/err" &
    cli_pid=$!
    for _ in $(seq 200); do
        [ "$(grep -c -- "$pattern" "$work/requests.log")" -ge "$count" ] && break
        sleep 0.05
    done
    cp "$work/requests.log" "$work/signalled.log"
    if [ "$signal" = KILL ]; then kill -KILL "$simulator_pid"; wait "$simulator_pid" 2>/dev/null; simulator_pid=
    else kill -INT "$cli_pid"; fi
    for _ in $(seq 200); do kill -0 "$cli_pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$cli_pid" 2>/dev/null   # still running after 10 s: counts as a failure below
    wait "$cli_pid"; status=$?
    note_run "$@"
    cli_pid=
}
# Every run's exit code and standard error go to $work/session.log (KEEP_SESSION=1 keeps it).
note_run() { { echo "== $* (exit $status)"; cat "$work/err"; } >> "$work/session.log"; }
err_has() { grep -aqF -- "$1" "$work/err"; }
count_requests() { grep -c -- "$1" "$work/${2:-requests}.log"; }   # PATTERN [signalled]

echo "put over an existing device file, interrupted"
head -c $((20 * 8169)) /dev/urandom > "$work/new.bin"
echo "old contents" > "$work/old.bin"
cp "$work/old.bin" "$device/data.bin"
start_simulator --rule "FileWriteRequest#3- delay 200"
cli_until 3 FileWriteRequest INT put "$work/new.bin" /mnt/nandfs/data.bin
writes=$(count_requests FileWriteRequest signalled)
check "Ctrl-C came mid-transfer (after $writes of 20 blocks)" test "$writes" -ge 3 -a "$writes" -lt 20
check "exit code 1" test "$status" -eq 1
check "the device still holds the old file" cmp -s "$work/old.bin" "$device/data.bin"
start_simulator --rule "FileWriteRequest#3- delay 200"
cli_until 3 FileWriteRequest KILL put "$work/new.bin" /mnt/nandfs/data.bin
check "the device dying mid-put: exit code 1" test "$status" -eq 1
check "  and the old file is unchanged" cmp -s "$work/old.bin" "$device/data.bin"

echo "put -r of a tree with a folder the user can't read"
if [ "$(id -u)" -ne 0 ]; then
    echo "  skipped: needs root to run the tool as another user"
else
    mkdir -p "$work/unreadable/locked" "$work/unreadable/sub"
    echo one > "$work/unreadable/one.txt"
    echo two > "$work/unreadable/sub/two.txt"
    echo secret > "$work/unreadable/locked/secret.txt"
    chmod 700 "$work/unreadable/locked"
    start_simulator
    chmod 666 "$(cat "$work/simulator.out")"   # the pty, for that user
    run_as="setpriv --reuid=nobody --regid=nogroup --clear-groups" cli put -r "$work/unreadable" /mnt/nandfs/unreadable
    check "exit code 1" test "$status" -eq 1
    check "the folder is named in the log" err_has "$work/unreadable/locked"
    check "the other files are sent" cmp -s "$work/unreadable/sub/two.txt" "$device/unreadable/sub/two.txt"
    check "  (both)" cmp -s "$work/unreadable/one.txt" "$device/unreadable/one.txt"
fi

echo "put -r of a tree with a FIFO"
mkdir -p "$work/fifo/sub"
echo one > "$work/fifo/one.txt"
echo two > "$work/fifo/sub/two.txt"
mkfifo "$work/fifo/pipe"
start_simulator
cli put -r "$work/fifo" /mnt/nandfs/fifo
check "ends, with exit code 1 (got $status)" test "$status" -eq 1
check "the FIFO is named in the log" err_has "$work/fifo/pipe"
check "the regular files are sent" cmp -s "$work/fifo/sub/two.txt" "$device/fifo/sub/two.txt"
check "  (both)" cmp -s "$work/fifo/one.txt" "$device/fifo/one.txt"

echo "mv onto an existing entry, on a device whose move replaces"
echo A > "$device/A"
echo B > "$device/B"
start_simulator --move-replaces
cli mv /mnt/nandfs/A /mnt/nandfs/B
check "exit code 1" test "$status" -eq 1
check "B keeps its contents" test "$(cat "$device/B")" = B
check "A is still there" test -f "$device/A"

echo "device names that would lead out of the chosen local folder"
home=$(getent passwd nobody | cut -d: -f6)
home_before=$(ls -lAd --time-style=+ "$home" 2>&1)
home_existed=$([ -e "$home" ] && echo yes)
echo tilde > "$device/~nobody"
mkdir -p "$work/download"
start_simulator
cli get "/mnt/nandfs/~nobody" "$work/download"
check "a file named ~nobody lands in the chosen folder or is refused (exit $status)" \
    test -f "$work/download/~nobody" -o "$status" -eq 1
check "and nothing appears as $home" test "$(ls -lAd --time-style=+ "$home" 2>&1)" = "$home_before"
[ -n "$home" ] && [ -z "$home_existed" ] && [ -e "$home" ] && rm -rf -- "$home"   # undo what was made there
mkdir -p "$device/linked/sub" "$work/outside" "$work/into/linked"
echo leaked > "$device/linked/sub/file.txt"
ln -s "$work/outside" "$work/into/linked/sub"
cli get -r /mnt/nandfs/linked "$work/into"
check "get -r through a local link: exit code 1" test "$status" -eq 1
check "nothing written where the link points" test -z "$(ls -A "$work/outside")"

echo "get -r of a device folder that holds links to itself"
mkdir -p "$device/loop"
ln -s . "$device/loop/l1"
ln -s . "$device/loop/l2"
echo x > "$device/loop/x.txt"
start_simulator
limit=60 cli get -r /mnt/nandfs/loop "$work/loop"
check "ends within 60 s, with exit code 1 (got $status)" test "$status" -eq 1

echo "a listed name with a NUL byte"
mkdir -p "$device/nul"
echo a > "$device/nul/a"
start_simulator --rule 'FolderContentsRequest add-files a\x00evil'
cli get -r /mnt/nandfs/nul "$work/nul"
check "exit code 1" test "$status" -eq 1
check "a is fetched once only" test "$(count_requests 'FileOpenRequest .*path=/mnt/nandfs/nul/a ')" -eq 1
check "the name is logged as skipped" err_has "evil"

echo "update interrupted during the upload, then during the size check"
head -c $((5 * 8169)) /dev/urandom > "$work/image.bin"
# update_interrupted STAGE RULE COUNT PATTERN: Ctrl-C once COUNT requests match PATTERN.
update_interrupted() {
    rm -f "$device/KX9image" "$device/KX9imageDone"
    start_simulator --rule "$2"
    cli_until "$3" "$4" INT update "$work/image.bin"
    check "Ctrl-C came during the $1" \
        test "$(count_requests "$4" signalled)" -eq "$3" -a "$(count_requests KX9imageDone signalled)" -eq 0
    check "  exit code 1" test "$status" -eq 1
    check "  no trigger file" test ! -e "$device/KX9imageDone"
    check "  not logged as completed" test -z "$(grep -F "Firmware update completed" "$work/err")"
}
update_interrupted upload "FileWriteRequest#2- delay 300" 2 FileWriteRequest
# The answer comes late, yet within the tool's 1 s wait: only Ctrl-C can stop the update.
update_interrupted "size check" "FileSystemEntryInfoRequest path=/mnt/nandfs/KX9image delay 800" 1 \
    "FileSystemEntryInfoRequest .*KX9image"

echo "--verify: what doesn't read back is not taken"
echo "old contents" > "$device/verified.bin"
head -c $((2 * 8169)) /dev/urandom > "$work/verified.bin"
start_simulator
cli put --verify "$work/verified.bin" /mnt/nandfs/verified.bin
check "put --verify: exit 0, the file read back" test "$status" -eq 0 -a "$(count_requests FileReadRequest)" -eq 2
check "  and in place" cmp -s "$work/verified.bin" "$device/verified.bin"
echo "old contents" > "$device/verified.bin"
start_simulator --rule "FileWriteRequest#2 corrupt 7"
cli put --verify "$work/verified.bin" /mnt/nandfs/verified.bin
check "put --verify on a device that stores a byte wrong: exit 1" test "$status" -eq 1
check "  the offset is logged" err_has "Verify failed: /mnt/nandfs/.verified.bin.uploading differs from $work/verified.bin at byte 8176"
check "  the old device file stays" test "$(cat "$device/verified.bin")" = "old contents"
start_simulator --rule "FileWriteRequest#1 corrupt 0"
cli update --verify "$work/verified.bin"
check "update --verify of an image that doesn't read back: exit 1" test "$status" -eq 1
check "  and no trigger" test ! -e "$device/KX9imageDone"
echo "old local" > "$work/local-verified.bin"
start_simulator --rule "FileReadRequest#2- read-limit 0"
cli get --verify /mnt/nandfs/verified.bin "$work/local-verified.bin"
check "get --verify on a device that answers differently twice: exit 1" test "$status" -eq 1
check "  the old local file stays" test "$(cat "$work/local-verified.bin")" = "old local"

echo "a bad frame header during --json identify"
start_simulator --rule "WhoAmIRequest#1 raw before 07 80 00 00 00 00"
cli --json identify
check "exit code 0" test "$status" -eq 0
check "standard output holds only JSON objects, one a line" python3 -c '
import json, sys
lines = open(sys.argv[1], "rb").read().decode().splitlines()
for line in lines:
    try:
        assert isinstance(json.loads(line), dict)
    except (ValueError, AssertionError):
        sys.exit("    not a JSON object: %r" % line)
assert lines, "nothing on standard output"
' "$work/out"
check "the report of the bad header is on standard error" grep -qi invalid "$work/err"

echo "a folder with more names than one answer holds"
mkdir -p "$device/crowded"
for i in $(seq 800); do : > "$device/crowded/entry-with-a-rather-long-name-$i.txt"; done
start_simulator
cli ls /mnt/nandfs/crowded
check "ls says the listing may be cut" err_has "/mnt/nandfs/crowded may hold more entries than the device listed"
check "  and lists what came ($(wc -l < "$work/out") names)" test "$(wc -l < "$work/out")" -gt 100
cli --json get -r /mnt/nandfs/crowded "$work/crowded"
check "get -r of it is not complete: exit 1" test "$status" -eq 1
check "  and says so" grep -q '"ok":false' "$work/out"
rm -rf "$device/crowded"

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
