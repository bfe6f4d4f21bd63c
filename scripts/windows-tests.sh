#!/usr/bin/env bash
# Cross-compiles the core library and its tests for 64-bit Windows with MinGW-w64 and runs
# them under Wine. The serial tests talk to COM9, which a pseudo-terminal bridge joins to
# COM8 like a null-modem cable. Exits non-zero when the build or any test fails.
#   JOBS=2            parallel build jobs
#   TEST_FILTER=...   a GoogleTest filter (default: every test)
#   TEST_TIMEOUT=600  seconds the tests may take under Wine
# Needs the packages of `scripts/setup.sh windows`.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build-windows

wine=$(dpkg -L wine64 2>/dev/null | grep -m1 '/wine64$' || true)
wineserver=$(dpkg -L wine64 2>/dev/null | grep -m1 '/wineserver64$' || true)
if [ ! -x "$wine" ] || [ ! -x "$wineserver" ]; then
    echo "wine64 is not installed: run scripts/setup.sh windows" >&2
    exit 1
fi

# juceaide and JUCE's CMake package are the host's; only the code is cross-compiled.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
      -DJUCE_DIR=/usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5 \
      -DUSB_BUILD_GUI=OFF -DUSB_BUILD_TOOLS=OFF -DUSB_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" -j "${JOBS:-2}" --target core_tests

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

bridge_names=$(mktemp)
python3 tests/transport/pty_bridge.py >"$bridge_names" &
bridge_pid=$!
cleanup() {
    kill "$bridge_pid" 2>/dev/null || true
    wait "$bridge_pid" 2>/dev/null || true
    rm -f "$bridge_names"
}
trap cleanup EXIT

for _ in $(seq 100); do
    [ -s "$bridge_names" ] && break
    sleep 0.1
done
read -r port_tty peer_tty <"$bridge_names" || true
if [ ! -c "${port_tty:-}" ] || [ ! -c "${peer_tty:-}" ]; then
    echo "The pseudo-terminal bridge did not start" >&2
    exit 1
fi

ln -sfn "$port_tty" "$WINEPREFIX/dosdevices/com9"
ln -sfn "$peer_tty" "$WINEPREFIX/dosdevices/com8"

# A test that hangs fails the run instead of holding it up for ever.
status=0
USB_TEST_SERIAL_PORT=COM9 USB_TEST_SERIAL_PEER=COM8 \
    timeout --kill-after=10 "${TEST_TIMEOUT:-600}" \
    "$wine" "$build/tests/core_tests.exe" --gtest_filter="${TEST_FILTER:-*}" || status=$?
[ "$status" -ne 124 ] || echo "core_tests.exe did not finish within ${TEST_TIMEOUT:-600} s" >&2
"$wineserver" -w
exit $status
