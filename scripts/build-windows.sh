#!/usr/bin/env bash
# Builds the Windows program on this Linux machine with MinGW-w64: a self-contained
# usb-file-utility.exe (libgcc, libstdc++, winpthread, zlib, libpng and libjpeg linked
# statically; it needs only Windows' own DLLs), the command-line tool
# usb-file-utility-cli.exe, and a zip with both and the licence:
#   build-windows/dist/usb-file-utility.exe
#   build-windows/dist/usb-file-utility-cli.exe
#   build-windows/dist/usb-file-utility-windows.zip
# Sets everything up first (as root on Debian 12).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build-windows

bash scripts/setup.sh windows
bash scripts/windows-deps.sh

# juceaide and JUCE's CMake package are the host's; only the code is cross-compiled.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
      -DJUCE_DIR=/usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5 \
      -DUSB_BUILD_GUI=ON -DUSB_BUILD_TOOLS=ON -DUSB_BUILD_TESTS=ON -DUSB_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target usb-file-utility usb-file-utility-cli

dist=$build/dist
rm -rf "$dist"
mkdir -p "$dist"
cp "$build/src/app/usb-file-utility.exe" "$dist/"
cp "$build/src/cli/usb-file-utility-cli.exe" "$dist/"
x86_64-w64-mingw32-strip "$dist/usb-file-utility.exe" "$dist/usb-file-utility-cli.exe"
cp LICENSE "$dist/LICENSE.txt"
# Windows' Notepad wants CR LF line ends.
sed 's/$/\r/' packaging/windows/README.txt > "$dist/README.txt"
(cd "$dist" && zip -q usb-file-utility-windows.zip usb-file-utility.exe usb-file-utility-cli.exe LICENSE.txt README.txt)
echo "Built $dist/usb-file-utility.exe, $dist/usb-file-utility-cli.exe and $dist/usb-file-utility-windows.zip"
