#!/usr/bin/env bash
# Sets everything up, starts the device simulator with a small sample device on a
# pseudo-terminal and opens the program, ready to press "Connect". Without a display it
# shows the main job instead: on a virtual display it fetches the device's MAC-address
# file ("getmac"), prints the log and says where the file and a screenshot are.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j "$(nproc)" --target usb-file-utility device-simulator

APP=$root/build/src/app/usb-file-utility
SIMULATOR=$root/build/tools/device-simulator/device-simulator
demo=$root/build/demo
. scripts/lib/gui-session.sh

# The sample device: a few files and folders, a MAC-address file, no firmware yet.
rm -rf "$demo/device"
usr=$demo/device/mnt/nandfs/usr
mkdir -p "$usr/config" "$usr/logs" "$usr/data/2026"
printf 'Sample device for USB File Utility\n' > "$usr/README.txt"
printf '[network]\ndhcp=on\n' > "$usr/config/network.ini"
printf 'boot ok\n' > "$usr/logs/boot.log"
head -c 50000 /dev/urandom > "$usr/data/2026/capture.bin"
printf '00:1A:2B:3C:4D:5E\n' > "$demo/device/mnt/nandfs/macAddress.txt"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    session_dir=$demo
    keep_session=yes
    trap stop_simulator EXIT
    start_simulator
    write_settings LastPort "$demo/port"
    echo "Device simulator on $(cat "$demo/simulator.out") (linked as $demo/port); requests in $demo/requests.log"
    HOME="$demo/home" XDG_CONFIG_HOME="" USB_FILE_UTILITY_PORTS="$demo/port" "$APP"
else
    start_session "$demo"
    start_simulator
    write_settings LastPort "$demo/port"
    echo "No display: running 'getmac' on a virtual display instead."
    rm -f "$demo/macAddress.txt"
    run_app getmac "$demo/macAddress.txt"
    echo "--- log"
    grep -v '^ERROR: X returned' "$demo/app.err" || true
    echo "---"
    echo "exit code: $app_status (0 is success)"
    echo "fetched file: $demo/macAddress.txt ($(cat "$demo/macAddress.txt" 2>/dev/null || echo missing))"
    echo "screenshot of the window: $demo/box.png"
    # The demo worked only when the program succeeded and the file arrived.
    [ "$app_status" -eq 0 ] && [ -s "$demo/macAddress.txt" ]
fi
