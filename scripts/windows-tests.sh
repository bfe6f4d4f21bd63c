#!/usr/bin/env bash
# The Windows program and its tests, cross-compiled with MinGW-w64 (scripts/build-windows.sh)
# and run under Wine:
#   1. core_tests.exe: the serial tests talk to COM9, which a pseudo-terminal bridge joins
#      to COM8 like a null-modem cable;
#   2. client_tests.exe: the client and transfers against the device simulator, which
#      the Linux side starts on demand (simulator-launcher.py) behind COM6;
#   3. usb-file-utility.exe itself in its unattended modes, on a virtual display, against
#      the simulator behind COM5 (tests/e2e/windows-modes.sh), with a screenshot;
#   4. usb-file-utility-cli.exe: ports, identify and get against the simulator behind COM4
#      (tests/cli/windows-cli.sh).
# Exits non-zero when a build or any test fails.
#   JOBS=2            parallel build jobs
#   TEST_TIMEOUT=600  seconds each test program may take under Wine
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build-windows

wine=$(dpkg -L wine64 2>/dev/null | grep -m1 '/wine64$' || true)
wineserver=$(dpkg -L wine64 2>/dev/null | grep -m1 '/wineserver64$' || true)

bash scripts/build-windows.sh
if [ ! -x "$wine" ] || [ ! -x "$wineserver" ]; then
    echo "wine64 is not installed: run scripts/setup.sh windows" >&2
    exit 1
fi
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target core_tests client_tests

# The simulator runs on the Linux side.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j "${JOBS:-$(nproc)}" --target device-simulator
simulator=$root/build/tools/device-simulator/device-simulator

# A throwaway Wine prefix of the build's own; mscoree and mshtml off so that creating it
# asks for neither Mono nor Gecko.
export WINEPREFIX=$build/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -d "$WINEPREFIX/dosdevices" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    "$wine" wineboot --init >/dev/null 2>&1
    "$wineserver" -w
fi
# Without a window manager, Wine waits 2 s for one at every X window that closes (five
# per JUCE window); unmanaged windows don't wait.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
"$wineserver" -w

work=$(mktemp -d /tmp/usb-file-utility-wine.XXXXXX)
helpers=()
cleanup() {
    for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# A test that hangs fails the run instead of holding it up for ever.
run_windows() {
    local status=0
    timeout --kill-after=10 "${TEST_TIMEOUT:-600}" "$wine" "$@" || status=$?
    [ "$status" -ne 124 ] || echo "$1 did not finish within ${TEST_TIMEOUT:-600} s" >&2
    "$wineserver" -w
    return $status
}

failed=()

echo "--- core_tests.exe"
python3 tests/transport/pty_bridge.py > "$work/bridge" &
helpers+=($!)
for _ in $(seq 100); do [ -s "$work/bridge" ] && break; sleep 0.1; done
read -r port_tty peer_tty < "$work/bridge" || true
if [ ! -c "${port_tty:-}" ] || [ ! -c "${peer_tty:-}" ]; then
    echo "The pseudo-terminal bridge did not start" >&2
    exit 1
fi
ln -sfn "$port_tty" "$WINEPREFIX/dosdevices/com9"
ln -sfn "$peer_tty" "$WINEPREFIX/dosdevices/com8"
USB_TEST_SERIAL_PORT=COM9 USB_TEST_SERIAL_PEER=COM8 run_windows "$build/tests/core_tests.exe" || failed+=(core_tests)

echo "--- client_tests.exe"
mkdir -p "$work/launcher"
ln -sfn "$work/simulator-port" "$WINEPREFIX/dosdevices/com6"
python3 tests/support/simulator-launcher.py --folder "$work/launcher" --simulator "$simulator" \
    --prefix "$WINEPREFIX" --link "$work/simulator-port" --port COM6 &
helpers+=($!)
USB_SIMULATOR_LAUNCHER="Z:${work//\//\\}\\launcher" run_windows "$build/tests/remotefs/client_tests.exe" || failed+=(client_tests)

echo "--- usb-file-utility.exe"
bash tests/e2e/windows-modes.sh "$wine" "$build/dist/usb-file-utility.exe" "$simulator" "$build/screenshots" \
    || failed+=(usb-file-utility)
"$wineserver" -w

echo "--- usb-file-utility-cli.exe"
bash tests/cli/windows-cli.sh "$wine" "$build/dist/usb-file-utility-cli.exe" "$simulator" || failed+=(usb-file-utility-cli)
"$wineserver" -w

echo "--- the zip"
listing=$(unzip -Z1 "$build/dist/usb-file-utility-windows.zip" | sort | tr '\n' ' ')
if [ "$listing" = "LICENSE.txt README.txt usb-file-utility-cli.exe usb-file-utility.exe " ]; then
    echo "  ok: both programs, the licence and the README"
else
    echo "  FAILED: the zip holds $listing"
    failed+=(zip)
fi

if [ ${#failed[@]} -gt 0 ]; then
    echo "Failed under Wine: ${failed[*]}" >&2
    exit 1
fi
