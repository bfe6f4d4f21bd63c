#!/usr/bin/env bash
# Installs everything the project needs on Debian 12, as root. Safe to run again:
# packages that are already present are left alone.
#   scripts/setup.sh          native build, tests, GUI test rig, fuzzing
#   scripts/setup.sh windows  also the MinGW-w64 cross compilers and Wine
#   scripts/setup.sh package  also what building and checking the Debian package needs
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git ccache
    juce-modules-source
    libgtest-dev libgmock-dev
    libcli11-dev nlohmann-json3-dev
    libx11-dev libxext-dev libxinerama-dev libxrandr-dev libxcursor-dev libxcomposite-dev
    libfreetype-dev libfontconfig1-dev libpng-dev libjpeg-dev zlib1g-dev
    xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core
    clang libclang-rt-14-dev
    python3 python3-dev python3-pytest pybind11-dev zip unzip procps
    libsqlite3-dev libpq-dev postgresql
)
if [ "${1:-}" = package ]; then
    packages+=(dpkg-dev lintian desktop-file-utils file)
fi
if [ "${1:-}" = windows ]; then
    packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev
               wine64 dpkg-dev nasm tcl)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
