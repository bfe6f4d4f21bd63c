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

echo "auto, the firmware already installed"
start_simulator
mkdir -p "$device/lib" && echo installed > "$device/lib/libm.so.2"
write_settings LastPort "$port" UpdateFileLocalPath "$image"
run_app auto
check "exit code 0" test "$app_status" -eq 0
check "one message box" test "$(cat "$session_dir/boxes")" -eq 1
check "the skip is logged" log_has "Firmware already exists, skipping update"
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
