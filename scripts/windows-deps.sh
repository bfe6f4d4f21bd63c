#!/usr/bin/env bash
# Builds the libraries that Debian ships for Windows only as source, static, with the
# MinGW-w64 toolchain, from Debian's own sources: the image libraries that JUCE's graphics
# module needs (libpng and libjpeg-turbo) and SQLite for the device records. The result is
# cached:
#   build-windows-deps/prefix/{include,lib}
# and each library is rebuilt only when it is missing. Needs `scripts/setup.sh windows`
# (dpkg-dev, nasm, tcl).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
deps=$root/build-windows-deps
prefix=$deps/prefix
toolchain=$root/cmake/toolchains/mingw-w64-x86_64.cmake

have_images() { [ -f "$prefix/lib/libpng16.a" ] && [ -f "$prefix/lib/libjpeg.a" ]; }
have_sqlite() { [ -f "$prefix/lib/libsqlite3.a" ] && [ -f "$prefix/include/sqlite3.h" ]; }
if have_images && have_sqlite; then
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

mkdir -p "$prefix"

fetch() {   # fetch FOLDER PACKAGE...: Debian's sources of the packages, unpacked in $deps/src/FOLDER
    local folder=$deps/src/$1; shift
    rm -rf "$folder"
    mkdir -p "$folder"
    (cd "$folder" && apt-get source -qq "$@" >/dev/null 2>&1) || {
        echo "apt-get source $* failed" >&2; exit 1; }
}

build() {   # build NAME SOURCE-FOLDER CMAKE-OPTIONS...
    local name=$1 source=$2; shift 2
    cmake -S "$source" -B "$deps/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >"$deps/$name.log" 2>&1 &&
    cmake --build "$deps/$name" -j "$(nproc)" >>"$deps/$name.log" 2>&1 &&
    cmake --install "$deps/$name" >>"$deps/$name.log" 2>&1 || {
        echo "building $name failed; see $deps/$name.log" >&2; tail -20 "$deps/$name.log" >&2; exit 1; }
}

if ! have_images; then
    fetch images libpng1.6 libjpeg-turbo
    build libpng "$(ls -d "$deps"/src/images/libpng1.6-*/)" \
          -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
    build libjpeg "$(ls -d "$deps"/src/images/libjpeg-turbo-*/)" \
          -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DCMAKE_SYSTEM_PROCESSOR=x86_64

    # JUCE's JPEG reader defines JPEG_INTERNALS, so jpeglib.h wants the private header too
    # (Debian's own libjpeg-dev ships it as well).
    cp "$(ls -d "$deps"/src/images/libjpeg-turbo-*/)jpegint.h" "$prefix/include/"

    # jconfig.h defines boolean only when windows.h's rpcndr.h hasn't; JUCE's JPEG reader
    # includes it inside a namespace of its own, where it needs the typedef in any case.
    sed -i 's|^#ifndef __RPCNDR_H__.*|#if 1|' "$prefix/include/jconfig.h"
    echo "Windows image libraries in $prefix"
fi

# SQLite: Debian's source is SQLite's source tree, from which its own build (run natively,
# with tclsh) generates the single-file amalgamation sqlite3.c; that one file is what is
# compiled for Windows, as SQLite recommends for embedding.
if ! have_sqlite; then
    fetch sqlite sqlite3
    tree=$(ls -d "$deps"/src/sqlite/sqlite3-*/)
    log=$deps/sqlite.log
    rm -rf "$deps/sqlite"
    mkdir -p "$deps/sqlite"
    (cd "$deps/sqlite" &&
     "${tree}configure" --disable-tcl >"$log" 2>&1 &&
     make -j "$(nproc)" sqlite3.c >>"$log" 2>&1 &&
     x86_64-w64-mingw32-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION \
         -c sqlite3.c -o sqlite3.o >>"$log" 2>&1 &&
     x86_64-w64-mingw32-ar rcs libsqlite3.a sqlite3.o >>"$log" 2>&1) || {
        echo "building sqlite failed; see $log" >&2; tail -20 "$log" >&2; exit 1; }
    mkdir -p "$prefix/include" "$prefix/lib"
    cp "$deps/sqlite/sqlite3.h" "$prefix/include/"
    cp "$deps/sqlite/libsqlite3.a" "$prefix/lib/"
    echo "Windows SQLite in $prefix"
fi
