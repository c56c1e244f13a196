#!/usr/bin/env bash
# Installs what Quillomarde needs on Debian 12, builds it, and then either
# starts the program or runs every test. Safe to run again, from any folder.
#
#   setup.sh run     build and start the program
#   setup.sh test    build and run all tests
#   setup.sh windows build quillomarde.exe for Windows x86-64
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$here/build"
packages=(g++ cmake ninja-build qt6-base-dev libgtest-dev fonts-dejavu-core xvfb xauth xdotool)

install_missing() {
    local missing=()
    for package in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}

build_in() {
    cmake -S "$here" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLO_WERROR=ON "${@:2}"
    cmake --build "$1" --parallel
}

case "${1:-}" in
run)
    install_missing
    build_in "$build"
    exec "$build/quillomarde"
    ;;
test)
    install_missing
    build_in "$build"
    ctest --test-dir "$build" --output-on-failure
    ;;
windows)
    # The host compiler writes the resource script; MinGW-w64 builds the rest.
    packages=(g++ cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools)
    install_missing
    build_in "$here/build-windows" -DCMAKE_TOOLCHAIN_FILE="$here/platform/win32/toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release
    echo "$here/build-windows/quillomarde.exe"
    ;;
*)
    echo "usage: $0 run|test|windows" >&2
    exit 2
    ;;
esac
