#!/usr/bin/env bash
# The window's station end to end: the real program started as "station" over two device
# simulators on pseudo-terminals, on a virtual display, closed with its title bar's close
# button; the records read back with python3's sqlite3.
#   station-window.sh APP SIMULATOR [SCREENSHOT_FOLDER]
set -u
APP=$1
SIMULATOR=$2
screenshots=${3:-}
. "$(dirname "$0")/../../scripts/lib/gui-session.sh"
start_session || exit 1

declare -A device_pids=()
stop_devices() {
    for n in "${!device_pids[@]}"; do
        kill "${device_pids[$n]}" 2>/dev/null; wait "${device_pids[$n]}" 2>/dev/null
    done
    device_pids=()
}
made_up_ports=()
remove_made_up_ports() { [ ${#made_up_ports[@]} -eq 0 ] || rm -f "${made_up_ports[@]}"; }
trap 'stop_devices; remove_made_up_ports; end_session' EXIT

# start_device N [RULE...]: a fresh device with MAC address 00:1A:2B:3C:4D:0N on devN/port.
start_device() {
    local n=$1; shift
    local dir=$session_dir/dev$n args=()
    rm -rf "$dir"
    mkdir -p "$dir/root/mnt/nandfs"
    printf '00:1a:2b:3c:4d:0%s\n' "$n" > "$dir/root/mnt/nandfs/macAddress.txt"
    for rule in "$@"; do args+=(--rule "$rule"); done
    launch_simulator "$dir" "$dir/root" "${args[@]}" || exit 1
    device_pids[$n]=$launched_pid
}
device_file() { echo "$session_dir/dev$1/root/mnt/nandfs/$2"; }
slot() { echo "$session_dir/dev$1/port"; }

# records SQL: the rows of the records' store, one per line, fields split by |.
records() {
    python3 - "$session_dir/records.sqlite" "$1" <<'PY'
import sqlite3, sys
for row in sqlite3.connect(sys.argv[1]).execute(sys.argv[2]):
    print("|".join(str(field) for field in row))
PY
}

image=$session_dir/image.bin
head -c $((3 * 8169 + 100)) /dev/urandom > "$image"
echo "site=4" > "$session_dir/site.cfg"
APP_PORTS="$(slot 1);$(slot 2)"

echo "station: the job from the command line, two devices"
start_device 1
start_device 2
write_settings
start_app station --image "$image" --getmac "$session_dir/macs" --put "$session_dir/site.cfg=/mnt/nandfs/site.cfg" \
    --records "$session_dir/records.sqlite"
window=$(main_window_of "$app_pid")
check "the first device passed" wait_for_log "[$(slot 1) 00-1A-2B-3C-4D-01] Device passed"
check "the second device passed" wait_for_log "[$(slot 2) 00-1A-2B-3C-4D-02] Device passed"
eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null | grep -E '^(WIDTH|HEIGHT)=[0-9]+$')"
check "the window fills the screen" test "${WIDTH:-0}x${HEIGHT:-0}" = 1280x1024
sleep 0.5
import -window root "$session_dir/passed.png" 2>/dev/null
close_window "$app_pid"
await_app
check "exit code 0 (got $app_status)" test "$app_status" -eq 0
for n in 1 2; do
    check "dev$n: the image arrived whole and was triggered" \
        sh -c "cmp -s '$image' '$(device_file $n KX9image)' && test -f '$(device_file $n KX9imageDone)'"
    check "dev$n: the upload arrived" cmp -s "$session_dir/site.cfg" "$(device_file $n site.cfg)"
    check "dev$n: its MAC file, named after its address" \
        cmp -s "$session_dir/macs/00-1A-2B-3C-4D-0$n.txt" "$(device_file $n macAddress.txt)"
done
check "the records hold both devices" test "$(records "SELECT slot, job, passed, mac_address, image_name FROM device_records ORDER BY slot")" = \
    "$(slot 1)|station|1|00-1A-2B-3C-4D-01|image.bin
$(slot 2)|station|1|00-1A-2B-3C-4D-02|image.bin"
settings=$session_dir/home/.config/zem/KX9ManufacturingUSBUtility.properties
check "the job is remembered" grep -q "name=\"StationImage\" val=\"$image\"" "$settings"
check "  and where the records go" grep -q "name=\"Records\" val=\"$session_dir/records.sqlite\"" "$settings"
stop_devices

echo "station: the remembered job; one device refuses the image, the window is closed while the other sends it"
start_device 1 'FileWriteRequest path=/mnt/nandfs/KX9image fail Refused'
start_device 2 'FileWriteRequest delay 300'
start_app station
main_window_of "$app_pid" > /dev/null   # on the screen
check "the refusing device failed" \
    wait_for_log "[$(slot 1) 00-1A-2B-3C-4D-01] Device failed: update: the image did not arrive whole"
check "the other one sends its image" \
    wait_for_log "[$(slot 2) 00-1A-2B-3C-4D-02] sending $image as /mnt/nandfs/KX9image"
sleep 0.5
import -window root "$session_dir/failed.png" 2>/dev/null
close_window "$app_pid"
await_app
check "exit code -1 (got $app_status)" test "$app_status" -eq 255
check "the stop is logged" log_has "Station stopped: 0 passed, 2 failed"
check "no trigger and no partial image on the device closed on" \
    test ! -e "$(device_file 2 KX9imageDone)" -a ! -e "$(device_file 2 KX9image)"
check "the records hold why each failed" test "$(records "SELECT slot, passed, error FROM device_records WHERE passed = 0 ORDER BY slot")" = \
    "$(slot 1)|0|update: the image did not arrive whole
$(slot 2)|0|Stopped during update"
stop_devices

echo "station: four devices found on a USB hub (a made-up device tree), each slot named where it is plugged in"
if [ "$(id -u)" -ne 0 ] || ls /dev/ttyACM9[1-4] > /dev/null 2>&1; then
    echo "  skipped: needs root and free device names /dev/ttyACM91 to 94"
else
    sysfs=$session_dir/sysfs
    mkdir -p "$sysfs/class/tty"
    for n in 1 2 3 4; do
        rules=()
        [ "$n" -eq 3 ] && rules=('FileWriteRequest path=/mnt/nandfs/KX9image fail Refused')
        [ "$n" -eq 4 ] && rules=('FileWriteRequest path=/mnt/nandfs/KX9image delay 400')
        start_device "$n" "${rules[@]}"
        usb=$sysfs/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.$n
        mkdir -p "$usb/1-1.$n:1.0/tty/ttyACM9$n"
        printf '5e1d\n' > "$usb/idVendor"; printf '0b47\n' > "$usb/idProduct"
        printf '0100\n' > "$usb/bcdDevice"; printf 'UNIT-000%s\n' "$n" > "$usb/serial"
        ln -s "$usb/1-1.$n:1.0" "$usb/1-1.$n:1.0/tty/ttyACM9$n/device"
        ln -s "$usb/1-1.$n:1.0/tty/ttyACM9$n" "$sysfs/class/tty/ttyACM9$n"
        made_up_ports+=("/dev/ttyACM9$n")
        ln -sfn "$(cat "$session_dir/dev$n/simulator.out")" "/dev/ttyACM9$n"
    done
    HOME="$session_dir/home" XDG_CONFIG_HOME="" USB_FILE_UTILITY_PORTS= USB_FILE_UTILITY_SYSFS=$sysfs \
        "$APP" station > "$session_dir/app.out" 2> "$session_dir/app.err" &
    app_pid=$!
    main_window_of "$app_pid" > /dev/null
    check "1-1.1 passed" wait_for_log "[1-1.1 00-1A-2B-3C-4D-01] Device passed"
    check "1-1.2 passed" wait_for_log "[1-1.2 00-1A-2B-3C-4D-02] Device passed"
    check "1-1.3 failed" wait_for_log "[1-1.3 00-1A-2B-3C-4D-03] Device failed: update: the image did not arrive whole"
    check "1-1.4 sends its image" wait_for_log "[1-1.4 00-1A-2B-3C-4D-04] Block 0 Sent."
    sleep 0.3
    import -window root "$session_dir/hub.png" 2>/dev/null
    close_window "$app_pid"
    await_app
    check "exit code -1 (got $app_status)" test "$app_status" -eq 255
    check "the records name each unit's slot, port and USB serial number" \
        test "$(records "SELECT slot, port, usb_serial, passed FROM device_records WHERE slot LIKE '1-1.%' ORDER BY slot")" = \
        "1-1.1|/dev/ttyACM91|UNIT-0001|1
1-1.2|/dev/ttyACM92|UNIT-0002|1
1-1.3|/dev/ttyACM93|UNIT-0003|0
1-1.4|/dev/ttyACM94|UNIT-0004|0"
    stop_devices
    remove_made_up_ports
fi

if [ -n "$screenshots" ]; then
    mkdir -p "$screenshots"
    cp "$session_dir/passed.png" "$screenshots/station-window.png"
    cp "$session_dir/failed.png" "$screenshots/station-window-closing.png"
    [ -f "$session_dir/hub.png" ] && cp "$session_dir/hub.png" "$screenshots/station-window-hub.png"
    echo "  screenshots: $screenshots/station-window*.png"
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
