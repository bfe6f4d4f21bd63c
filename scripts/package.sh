#!/usr/bin/env bash
# Builds the Debian package from a Release build and checks it: its contents
# (dpkg-deb -c), the desktop entry (desktop-file-validate) and lintian. With --install
# it then installs it with dpkg -i, runs the installed command-line tool against the
# device simulator, and removes the package again.
#   build-package/usb-file-utility_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build-package

bash scripts/setup.sh package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUSB_BUILD_TESTS=OFF -DUSB_BUILD_TOOLS=ON \
      -DUSB_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/*.deb)
echo "Built $deb"

. scripts/lib/checks.sh

contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|')
has() { grep -qxF "$1" <<< "$contents"; }
for path in /usr/bin/usb-file-utility /usr/bin/usb-file-utility-cli /usr/share/applications/usb-file-utility.desktop \
            /usr/lib/udev/rules.d/60-usb-file-utility.rules \
            /usr/share/bash-completion/completions/usb-file-utility-cli \
            /usr/share/doc/usb-file-utility/copyright /usr/share/doc/usb-file-utility/changelog.gz \
            /usr/share/icons/hicolor/48x48/apps/usb-file-utility.png \
            /usr/share/icons/hicolor/256x256/apps/usb-file-utility.png \
            /usr/lib/python3/dist-packages/usb_file_utility/__init__.py; do
    check "the package holds $path" has "$path"
done

unpacked=$(mktemp -d /tmp/usb-file-utility-deb.XXXXXX)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
check "the bash completion registers itself" \
    bash -c "source '$unpacked/usr/share/bash-completion/completions/usb-file-utility-cli' && complete -p usb-file-utility-cli"
check "the desktop entry is valid" desktop-file-validate "$unpacked/usr/share/applications/usb-file-utility.desktop"
rule=$unpacked/usr/lib/udev/rules.d/60-usb-file-utility.rules
check "the udev rule matches the device's USB id" grep -q 'ATTRS{idVendor}=="5e1d", ATTRS{idProduct}=="0b47"' "$rule"
check "the udev rule gives the seat's user the port" grep -q 'TAG+="uaccess"' "$rule"
check "the udev rule keeps ModemManager off the port" grep -q 'ENV{ID_MM_DEVICE_IGNORE}="1"' "$rule"
check "the dependencies come from the libraries the programs use" \
    bash -c "dpkg-deb -f '$deb' Depends | grep -q 'libc6'"

echo "--- lintian"
check "lintian finds no error or warning" \
    lintian --fail-on error,warning "$deb"

if [ "${1:-}" = --install ]; then
    echo "--- installed"
    dpkg -i "$deb" >/dev/null
    check "the program is installed" test -x /usr/bin/usb-file-utility
    check "Debian's python3 imports the module" /usr/bin/python3 -c "import usb_file_utility; usb_file_utility.ports()"
    check "pytest finds the module's fixtures" bash -c "mkdir -p '$unpacked/pytest' && cd '$unpacked/pytest' && /usr/bin/python3 -m pytest --fixtures -p no:cacheprovider 2>/dev/null | grep -q usb_simulator"
    check "the tool names its version" bash -c "/usr/bin/usb-file-utility-cli --version | grep -qx 'usb-file-utility-cli $(dpkg-deb -f "$deb" Version)'"

    # The installed tool against the simulator (built by the native build).
    simulator=$root/build/tools/device-simulator/device-simulator
    if [ ! -x "$simulator" ]; then
        cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
        cmake --build build --target device-simulator >/dev/null
    fi
    mkdir -p "$unpacked/device/mnt/nandfs"
    "$simulator" --root "$unpacked/device" --link "$unpacked/port" > "$unpacked/simulator.out" 2>/dev/null &
    simulator_pid=$!
    trap 'kill $simulator_pid 2>/dev/null || true; rm -rf "$unpacked"' EXIT
    for _ in $(seq 100); do [ -L "$unpacked/port" ] && break; sleep 0.05; done
    check "the installed tool lists the port" \
        bash -c "USB_FILE_UTILITY_PORTS='$unpacked/port' /usr/bin/usb-file-utility-cli ports 2>/dev/null | grep -qF '$unpacked/port'"
    check "the installed tool identifies the device" \
        bash -c "/usr/bin/usb-file-utility-cli --port '$unpacked/port' identify 2>/dev/null | grep -q 'Device simulator'"
    kill $simulator_pid 2>/dev/null || true

    dpkg -r usb-file-utility >/dev/null
    check "the package is removed again" test ! -e /usr/bin/usb-file-utility -a ! -e /usr/bin/usb-file-utility-cli
fi

[ "$failures" -eq 0 ] || { echo "$failures package check(s) failed"; exit 1; }
echo "The package is fine: $deb"
