#!/usr/bin/env bash
# Installs what Quillomarde needs on Debian 12, builds it, and then either
# starts the program or runs every test. Safe to run again, from any folder.
#
#   setup.sh run     build the program alone and start it
#   setup.sh test    build everything and run all tests
#   setup.sh windows [x86_64|i686]  build quillomarde.exe for 64-bit (default) or 32-bit Windows
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$here/build"
run_packages=(g++ cmake ninja-build qt6-base-dev fonts-dejavu-core)
# The tests drive the real program under Xvfb and read its accessibility
# tree over AT-SPI, on D-Bus buses of their own.
test_packages=(libgtest-dev xvfb xauth xdotool python3-pyatspi at-spi2-core dbus)

install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}

configure() {
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLO_WERROR=ON "$@"
}

case "${1:-}" in
run)
    install_missing "${run_packages[@]}"
    configure -DBUILD_TESTING=OFF
    cmake --build "$build" --parallel --target quillomarde
    exec "$build/quillomarde"
    ;;
test)
    install_missing "${run_packages[@]}" "${test_packages[@]}"
    configure -DBUILD_TESTING=ON -DQUILLO_BENCH=ON
    cmake --build "$build" --parallel
    ctest --test-dir "$build" --output-on-failure
    ;;
windows)
    # The host compiler writes the resource script; MinGW-w64 builds the rest.
    processor="${2:-x86_64}"
    install_missing g++ cmake ninja-build "g++-mingw-w64-${processor//_/-}-posix" mingw-w64-tools
    build="$here/build-windows"
    [ "$processor" = x86_64 ] || build="$here/build-windows-$processor"
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLO_WERROR=ON \
        -DCMAKE_TOOLCHAIN_FILE="$here/platform/win32/toolchain-$processor.cmake"
    cmake --build "$build" --parallel
    echo "$build/quillomarde.exe"
    ;;
*)
    echo "usage: $0 run|test|windows [x86_64|i686]" >&2
    exit 2
    ;;
esac
