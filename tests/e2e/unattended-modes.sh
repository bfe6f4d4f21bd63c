#!/usr/bin/env bash
# The production-line modes, end to end: the real program against the device simulator on
# a pseudo-terminal, on a virtual display, message boxes answered with xdotool.
#   unattended-modes.sh APP SIMULATOR [SCREENSHOT_FOLDER]
set -u
APP=$1
SIMULATOR=$2
screenshots=${3:-}
. "$(dirname "$0")/../../scripts/lib/gui-session.sh"
start_session || exit 1

device=$session_dir/device/mnt/nandfs
port=$session_dir/port
image=$session_dir/image.bin
head -c 300000 /dev/urandom > "$image"

echo "--version"
version=$(DISPLAY= "$APP" --version 2>/dev/null); version_status=$?
check "exit code 0 without a display" test "$version_status" -eq 0
check "the version on standard output" grep -qxE 'usb-file-utility [0-9]+\.[0-9]+\.[0-9]+' <<< "$version"

echo "auto, the firmware already installed"
start_simulator
mkdir -p "$device/lib" && echo installed > "$device/lib/libm.so.2"
write_settings LastPort "$port" UpdateFileLocalPath "$image"
run_app auto
check "exit code 0" test "$app_status" -eq 0
check "one message box" test "$(cat "$session_dir/boxes")" -eq 1
check "the skip is logged" log_has "Firmware already exists, skipping update"
check "the log names the version" log_has "USB File Utility ${version#usb-file-utility }"
check "no image written" test ! -e "$device/KX9image"
check "the settings stay in ~/.config/zem" test -f "$session_dir/home/.config/zem/KX9ManufacturingUSBUtility.properties"
rm -rf "$device/lib"

echo "auto, updating"
start_simulator
run_app auto
check "exit code 0" test "$app_status" -eq 0
check "the image arrived whole" cmp -s "$image" "$device/KX9image"
check "the trigger file exists" test -f "$device/KX9imageDone"
check "the completion box was answered" test "$(cat "$session_dir/boxes")" -eq 1
check "the port is closed at the end" log_has "Closing Port."
check "the progress bar is gone when the box shows" test "$(bar_pixels "$session_dir/box.png")" -eq 0
check "the job's record names the device and the image" python3 - "$session_dir/home/.local/share/usb-file-utility/records.sqlite" \
    "$(sha256sum < "$image" | cut -d' ' -f1)" <<'PY'
import sqlite3, sys
rows = sqlite3.connect(sys.argv[1]).execute(
    "SELECT job, passed, second_text, image_sha256, image_size FROM device_records ORDER BY time DESC").fetchall()
assert rows[0] == ("auto", 1, "serial 00000001", sys.argv[2], 300000), rows
PY
[ -n "$screenshots" ] && mkdir -p "$screenshots" && cp "$session_dir/box.png" "$screenshots/auto-update.png" 2>/dev/null
rm -f "$device/KX9image" "$device/KX9imageDone"

echo "auto, an empty image"
start_simulator
: > "$session_dir/empty.bin"
write_settings LastPort "$port" UpdateFileLocalPath "$session_dir/empty.bin"
run_app auto
check "exit code -1" test "$app_status" -eq 255
check "the refusal is logged" log_has "Update file is empty: $session_dir/empty.bin"
check "the warning box was answered" test "$(cat "$session_dir/boxes")" -eq 1
check "nothing of the image reached the device" test ! -e "$device/KX9image" -a ! -e "$device/KX9imageDone"

echo "auto, no remembered port"
write_settings UpdateFileLocalPath "$image"
: > "$session_dir/requests.log"
run_app auto
check "exit code -1" test "$app_status" -eq 255
check "the open failure is logged" log_has "Failed to open port"
check "no box" test "$(cat "$session_dir/boxes")" -eq 0
check "nothing was sent" test ! -s "$session_dir/requests.log"

echo "getmac, success (a path with a blank)"
printf '00:11:22:33:44:55\n' > "$device/macAddress.txt"
write_settings LastPort "$port"
run_app getmac "$session_dir/mac address.txt"
check "exit code 0" test "$app_status" -eq 0
check "the file is identical" cmp -s "$device/macAddress.txt" "$session_dir/mac address.txt"
check "the stored box was answered" test "$(cat "$session_dir/boxes")" -eq 1
[ -n "$screenshots" ] && cp "$session_dir/box.png" "$screenshots/getmac.png" 2>/dev/null

echo "getmac, no MAC file on the device"
rm "$device/macAddress.txt"
run_app getmac "$session_dir/mac2.txt"
check "exit code -1" test "$app_status" -eq 255
check "the failure is logged" log_has "Failed to read mac file"
check "the warning box was answered" test "$(cat "$session_dir/boxes")" -eq 1
check "no local file" test ! -e "$session_dir/mac2.txt"
check "both getmac jobs are recorded, with the address read" python3 - "$session_dir/home/.local/share/usb-file-utility/records.sqlite" <<'PY'
import sqlite3, sys
rows = sqlite3.connect(sys.argv[1]).execute(
    "SELECT passed, mac_address, error FROM device_records WHERE job = 'getmac' ORDER BY time").fetchall()
assert rows == [(1, "00-11-22-33-44-55", ""), (0, "", "getmac: the MAC-address file couldn't be read")], rows
PY

# The slow scenarios: the device answers every written or read block late. Window
# coordinates: the "File System" tab at 130,51 and the close button at 480,17.
big_image=$session_dir/big-image.bin
head -c 1500000 /dev/urandom > "$big_image"

echo "interactive: Connect, then a click on the tab lists the folder (the clicks below hit it)"
start_simulator
write_settings LastPort "$port"
start_app
window=$(main_window_of "$app_pid")
sleep 1
import -window root "$session_dir/connection.png" 2>/dev/null
click_window "$window" 243 173
check "connected" wait_for_request WhoAmIRequest 10
sleep 0.5
click_window "$window" 130 51
check "the folder is listed" wait_for_request FolderContentsRequest 10
sleep 0.5
import -window root "$session_dir/file-system.png" 2>/dev/null
kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null
if [ -n "$screenshots" ]; then
    cp "$session_dir/connection.png" "$screenshots/connection-tab.png"
    cp "$session_dir/file-system.png" "$screenshots/file-system-tab.png"
fi

echo "auto, a slow update: the progress bar, and a click on the tabs meanwhile"
start_simulator "FileWriteRequest delay 15"
write_settings LastPort "$port" UpdateFileLocalPath "$big_image"
start_app auto
window=$(main_window_of "$app_pid")
wait_for_request FileWriteRequest
sleep 1
import -window root "$session_dir/progress.png" 2>/dev/null
click_window "$window" 130 51
await_app
check "exit code 0" test "$app_status" -eq 0
check "the progress bar shows" test "$(bar_pixels "$session_dir/progress.png")" -gt 100
check "the image arrived whole" cmp -s "$big_image" "$device/KX9image"
check "nothing but writes between the first and the last write" \
    test -z "$(requests_during_writes | grep -v '^FileWriteRequest')"
[ -n "$screenshots" ] && cp "$session_dir/progress.png" "$screenshots/progress-bar.png"
rm -f "$device/KX9image" "$device/KX9imageDone"

# The cancelled jobs are slower still, so that they can't end before the key or the click
# reaches a busy program.
echo "auto, Escape during the update"
start_simulator "FileWriteRequest delay 60"
start_app auto
window=$(main_window_of "$app_pid")
wait_for_request FileWriteRequest
sleep 0.5
xdotool windowfocus "$window" 2>/dev/null
xdotool key --window "$window" Escape 2>/dev/null
await_app
check "exit code -1" test "$app_status" -eq 255
check "the cancel is logged" log_has "Transfer cancelled."
check "no box" test "$(cat "$session_dir/boxes")" -eq 0
check "no trigger file and no partial image" test ! -e "$device/KX9imageDone" -a ! -e "$device/KX9image"
check "the image's handle was closed" test "$(grep -c '^FileCloseRequest' "$session_dir/requests.log")" -eq 1

echo "getmac, the window closed during a slow copy"
head -c 800000 /dev/urandom > "$device/macAddress.txt"
echo "the old MAC file" > "$session_dir/old-mac.txt"
cp "$session_dir/old-mac.txt" "$session_dir/mac3.txt"
start_simulator "FileReadRequest delay 100"
start_app getmac "$session_dir/mac3.txt"
window=$(main_window_of "$app_pid")
wait_for_request FileReadRequest
click_window "$window" 480 17
closed_at=$(date +%s)
await_app
check "the program ended within a few seconds" test $(( $(date +%s) - closed_at )) -le 5
check "exit code -1" test "$app_status" -eq 255
check "the old local file stays" cmp -s "$session_dir/old-mac.txt" "$session_dir/mac3.txt"
rm -f "$device/macAddress.txt"

echo "AUTO is not a keyword"
: > "$session_dir/requests.log"
HOME="$session_dir/home" XDG_CONFIG_HOME="" USB_FILE_UTILITY_PORTS="$port" "$APP" AUTO 2> "$session_dir/app.err" &
pid=$!
sleep 3
check "the program is still running, waiting for the operator" kill -0 "$pid"
check "it shows its window" test -n "$(visible_windows "$pid")"
check "nothing was sent" test ! -s "$session_dir/requests.log"
kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
