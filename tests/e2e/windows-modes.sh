#!/usr/bin/env bash
# The Windows program's unattended modes under Wine, end to end: the device simulator on a
# pseudo-terminal behind COM5 (Wine's SetupAPI lists no USB device, so the port comes from
# USB_FILE_UTILITY_PORTS and "LastPort"), a virtual display, message boxes answered with
# xdotool, the settings file under the Wine user's %APPDATA%\zem.
#   windows-modes.sh WINE EXE SIMULATOR [SCREENSHOT_FOLDER]
# WINEPREFIX (and the other WINE* variables) come from the caller.
set -u
wine=$1
exe=$2
SIMULATOR=$3
screenshots=${4:-}
. "$(dirname "$0")/../../scripts/lib/gui-session.sh"
start_session || exit 1

# run_app starts $APP with the session's environment; Wine runs the program in the same
# process, so the windows it makes carry this pid.
APP=$session_dir/wine-program
printf '#!/bin/sh\nexec "%s" "%s" "$@"\n' "$wine" "$exe" > "$APP"
chmod +x "$APP"
APP_PORTS=COM5

appdata=$WINEPREFIX/drive_c/users/$(whoami)/AppData/Roaming
settings=$appdata/zem/KX9ManufacturingUSBUtility.properties
write_windows_settings() {   # KEY VALUE ...
    rm -rf "$appdata/zem"
    mkdir -p "$appdata/zem"
    {
        echo '<?xml version="1.0" encoding="UTF-8"?>'; echo; echo '<PROPERTIES>'
        while [ $# -ge 2 ]; do echo "  <VALUE name=\"$1\" val=\"$2\"/>"; shift 2; done
        echo '</PROPERTIES>'
    } > "$settings"
}

ln -sfn "$session_dir/port" "$WINEPREFIX/dosdevices/com5"
device=$session_dir/device/mnt/nandfs
drive_c=$WINEPREFIX/drive_c
image=$drive_c/usb-file-utility-image.bin
head -c 200000 /dev/urandom > "$image"
rm -f "$drive_c/mac.txt"

echo "getmac C:\\mac.txt"
start_simulator
printf '00:11:22:33:44:55\n' > "$device/macAddress.txt"
write_windows_settings LastPort COM5
run_app getmac 'C:\mac.txt'
check "exit code 0" test "$app_status" -eq 0
check "the fetched file is identical" cmp -s "$device/macAddress.txt" "$drive_c/mac.txt"
check "one message box" test "$(cat "$session_dir/boxes")" -eq 1
if [ -n "$screenshots" ] && [ -f "$session_dir/box.png" ]; then
    mkdir -p "$screenshots"
    cp "$session_dir/box.png" "$screenshots/windows-program-under-wine.png"
    echo "  screenshot: $screenshots/windows-program-under-wine.png"
fi

echo "getmac without a MAC file on the device"
rm "$device/macAddress.txt"
run_app getmac 'C:\mac2.txt'
check "exit code -1" test "$app_status" -eq 255
check "the warning box was answered" test "$(cat "$session_dir/boxes")" -eq 1
check "no local file" test ! -e "$drive_c/mac2.txt"

echo "auto, updating"
write_windows_settings LastPort COM5 UpdateFileLocalPath 'C:\usb-file-utility-image.bin'
run_app auto
check "exit code 0" test "$app_status" -eq 0
check "the image arrived whole" cmp -s "$image" "$device/KX9image"
check "the trigger file exists" test -f "$device/KX9imageDone"
check "the settings file is under %APPDATA%\\zem" grep -q 'UpdateFileLocalPath' "$settings"

echo "auto, a slow update: the progress bar, a click on the tabs, then Escape"
rm -f "$device/KX9image" "$device/KX9imageDone"
head -c 1500000 /dev/urandom > "$image"
start_simulator "FileWriteRequest delay 40"
start_app auto
window=$(main_window_of "$app_pid")
wait_for_request FileWriteRequest 60
sleep 1
import -window root "$session_dir/progress.png" 2>/dev/null
click_window "$window" 130 51     # the "File System" tab
sleep 0.5
xdotool key --window "$window" Escape 2>/dev/null
await_app
check "exit code -1" test "$app_status" -eq 255
check "the progress bar shows" test "$(bar_pixels "$session_dir/progress.png")" -gt 100
check "the cancel is logged" log_has "Transfer cancelled."
check "no trigger file and no partial image" test ! -e "$device/KX9imageDone" -a ! -e "$device/KX9image"
check "nothing but writes between the first and the last write" \
    test -z "$(requests_during_writes | grep -v '^FileWriteRequest')"
[ -n "$screenshots" ] && cp "$session_dir/progress.png" "$screenshots/windows-progress-bar.png"

echo "auto, no remembered port"
write_windows_settings
run_app auto
check "exit code -1" test "$app_status" -eq 255
check "the open failure is logged" log_has "Failed to open port"

echo "station over COM11 and COM12, one device refusing the image; closed with the title bar's button"
stop_simulator
station_pids=()
for n in 1 2; do
    dir=$session_dir/station$n
    mkdir -p "$dir/root/mnt/nandfs"
    printf '00:1a:2b:3c:4d:0%s\n' "$n" > "$dir/root/mnt/nandfs/macAddress.txt"
    rules=()
    [ "$n" -eq 2 ] && rules=(--rule 'FileWriteRequest path=/mnt/nandfs/KX9image fail Refused')
    launch_simulator "$dir" "$dir/root" "${rules[@]}" || exit 1
    station_pids+=("$launched_pid")
    ln -sfn "$dir/port" "$WINEPREFIX/dosdevices/com1$n"
done
station_image=$drive_c/station-image.bin
head -c $((2 * 8169 + 10)) /dev/urandom > "$station_image"
rm -rf "$drive_c/station-macs" "$drive_c"/station-records.sqlite*
write_windows_settings
APP_PORTS="COM11;COM12"
start_app station --image 'C:\station-image.bin' --getmac 'C:\station-macs' --records 'C:\station-records.sqlite'
APP_PORTS=COM5
main_window_of "$app_pid" > /dev/null   # on the screen
check "COM11 passed" wait_for_log "[COM11 00-1A-2B-3C-4D-01] Device passed" 90
check "COM12 failed" wait_for_log "[COM12 00-1A-2B-3C-4D-02] Device failed: update: the image did not arrive whole" 90
sleep 1
import -window root "$session_dir/station.png" 2>/dev/null
close_window "$app_pid"
await_app
check "exit code -1 (got $app_status)" test "$app_status" -eq 255
check "COM11's image arrived whole" cmp -s "$station_image" "$session_dir/station1/root/mnt/nandfs/KX9image"
check "its MAC file is named after its address" \
    cmp -s "$session_dir/station1/root/mnt/nandfs/macAddress.txt" "$drive_c/station-macs/00-1A-2B-3C-4D-01.txt"
check "the records hold both devices" test "$(python3 - "$drive_c/station-records.sqlite" <<'PY'
import sqlite3, sys
for row in sqlite3.connect(sys.argv[1]).execute("SELECT slot, passed, mac_address FROM device_records ORDER BY slot"):
    print("|".join(map(str, row)))
PY
)" = "COM11|1|00-1A-2B-3C-4D-01
COM12|0|00-1A-2B-3C-4D-02"
check "the job is remembered in %APPDATA%\\zem" grep -q 'name="StationImage" val="C:\\station-image.bin"' "$settings"
if [ -n "$screenshots" ] && [ -f "$session_dir/station.png" ]; then
    mkdir -p "$screenshots"
    cp "$session_dir/station.png" "$screenshots/windows-station.png"
    echo "  screenshot: $screenshots/windows-station.png"
fi
for pid in "${station_pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
rm -f "$WINEPREFIX/dosdevices/com11" "$WINEPREFIX/dosdevices/com12"
rm -rf "$station_image" "$drive_c/station-macs" "$drive_c"/station-records.sqlite*

rm -f "$image" "$drive_c/mac.txt"
if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
