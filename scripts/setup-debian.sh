#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12 (run as root), 32-bit Wine for the win32
# suite included. Quick when all is present: no package list is fetched then.
set -euo pipefail

packages=(
    cmake g++ make git pkg-config libgtest-dev googletest libssl-dev
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
    wine wine64 wine32:i386 fonts-wine xvfb xauth xdotool imagemagick x11-apps
    dosfstools mtools xorriso fdisk tmux
    libcli11-dev nlohmann-json3-dev jq
    clang libclang-rt-14-dev
)

# wine32:i386 needs the i386 architecture beside the machine's own.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture (32-bit Wine)"
    dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi
