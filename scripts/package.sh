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
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUSB_BUILD_TESTS=OFF -DUSB_BUILD_TOOLS=OFF \
      -DUSB_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/*.deb)
echo "Built $deb"

failures=0
check() {   # check DESCRIPTION COMMAND...
    local what=$1; shift
    if "$@"; then echo "  ok: $what"; else echo "  FAILED: $what"; failures=$((failures + 1)); fi
}

contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|')
has() { grep -qxF "$1" <<< "$contents"; }
for path in /usr/bin/usb-file-utility /usr/share/applications/usb-file-utility.desktop \
            /usr/lib/udev/rules.d/60-usb-file-utility.rules \
            /usr/share/doc/usb-file-utility/copyright /usr/share/doc/usb-file-utility/changelog.gz \
            /usr/share/icons/hicolor/48x48/apps/usb-file-utility.png \
            /usr/share/icons/hicolor/256x256/apps/usb-file-utility.png; do
    check "the package holds $path" has "$path"
done

unpacked=$(mktemp -d /tmp/usb-file-utility-deb.XXXXXX)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
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
    dpkg -r usb-file-utility >/dev/null
    check "the package is removed again" test ! -e /usr/bin/usb-file-utility
fi

[ "$failures" -eq 0 ] || { echo "$failures package check(s) failed"; exit 1; }
echo "The package is fine: $deb"
