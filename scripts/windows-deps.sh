#!/usr/bin/env bash
# Builds the image libraries that JUCE's graphics module needs for Windows (libpng and
# libjpeg-turbo, static, with the MinGW-w64 toolchain) from Debian's own sources. Debian
# ships them for Windows only as source. The result is cached:
#   build-windows-deps/prefix/{include,lib}
# and rebuilt only when it is missing. Needs `scripts/setup.sh windows` (dpkg-dev, nasm).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
deps=$root/build-windows-deps
prefix=$deps/prefix
toolchain=$root/cmake/toolchains/mingw-w64-x86_64.cmake

if [ -f "$prefix/lib/libpng16.a" ] && [ -f "$prefix/lib/libjpeg.a" ]; then
    exit 0
fi

# A deb-src entry for the machine's own Debian suites, so that apt-get source works.
sources=/etc/apt/sources.list.d/usb-file-utility-src.sources
if ! grep -qs '^Types:.*deb-src' /etc/apt/sources.list.d/*.sources && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    suites=$(. /etc/os-release && echo "$VERSION_CODENAME $VERSION_CODENAME-updates")
    cat > "$sources" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suites
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    apt-get update -qq
fi

rm -rf "$deps/src"
mkdir -p "$deps/src" "$prefix"
(cd "$deps/src" && apt-get source -qq libpng1.6 libjpeg-turbo >/dev/null 2>&1) || {
    echo "apt-get source libpng1.6 libjpeg-turbo failed" >&2; exit 1; }

build() {   # build NAME SOURCE-FOLDER CMAKE-OPTIONS...
    local name=$1 source=$2; shift 2
    cmake -S "$source" -B "$deps/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >"$deps/$name.log" 2>&1 &&
    cmake --build "$deps/$name" -j "$(nproc)" >>"$deps/$name.log" 2>&1 &&
    cmake --install "$deps/$name" >>"$deps/$name.log" 2>&1 || {
        echo "building $name failed; see $deps/$name.log" >&2; tail -20 "$deps/$name.log" >&2; exit 1; }
}

build libpng "$(ls -d "$deps"/src/libpng1.6-*/)" \
      -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
build libjpeg "$(ls -d "$deps"/src/libjpeg-turbo-*/)" \
      -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DCMAKE_SYSTEM_PROCESSOR=x86_64

# JUCE's JPEG reader defines JPEG_INTERNALS, so jpeglib.h wants the private header too
# (Debian's own libjpeg-dev ships it as well).
cp "$(ls -d "$deps"/src/libjpeg-turbo-*/)jpegint.h" "$prefix/include/"

# jconfig.h defines boolean only when windows.h's rpcndr.h hasn't; JUCE's JPEG reader
# includes it inside a namespace of its own, where it needs the typedef in any case.
sed -i 's|^#ifndef __RPCNDR_H__.*|#if 1|' "$prefix/include/jconfig.h"
echo "Windows image libraries in $prefix"
