#!/usr/bin/env bash
# Installs what Quillomarde needs on Debian 12, builds it, and then either
# starts the program, runs every test or makes a package. Safe to run again,
# from any folder.
#
#   setup.sh run                      build the program alone and start it
#   setup.sh test [ARCH]              build everything and run all tests; for another
#                                     architecture (arm64, armhf) cross-built, and run
#                                     under its emulator
#   setup.sh package [ARCH]           make the Debian package for ARCH (amd64, arm64,
#                                     armhf; default this machine's), cross-built where
#                                     ARCH is not this machine's
#   setup.sh windows [x86_64|i686]    build quillomarde.exe for 64-bit (default) or 32-bit Windows
#
# Cross builds run in a Debian root of their own, build-ARCH/root (see
# tools/debian_root.sh), so that this machine's own packages stay as they are.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
native="$(dpkg --print-architecture)"
# What building needs: tools that run on the building machine, and
# libraries of the architecture built for. The tests drive the real program
# under Xvfb and read its accessibility tree over AT-SPI, on D-Bus buses of
# their own.
build_tools=(cmake ninja-build fonts-dejavu-core)
build_libraries=(qt6-base-dev)
test_tools=(xvfb xauth xdotool python3-pyatspi at-spi2-core dbus)
test_libraries=(libgtest-dev)
# dpkg-shlibdeps, which names the package's dependencies, reads the binary with file.
package_tools=(dpkg-dev file)

# Set by for_architecture: the root of a cross build, where the build runs,
# what installs packages there, and what configure adds.
root=()
on=()
installer=("$here/tools/install_missing.sh")
cross=()

install_missing() {
    "${installer[@]}" "$@"
}

# Libraries for the build's architecture, named for it in a cross build,
# one a line.
for_build() {
    local suffix=""
    [ ${#root[@]} -eq 0 ] || suffix=":$arch"
    printf '%s\n' "${@/%/$suffix}"
}

# Builds for arch here, or in its root with Debian's cross compiler and
# the Qt tools of this machine's architecture (moc, rcc), as Debian's own
# cross builds do.
for_architecture() {
    arch="$1"
    if [ "$arch" = "$native" ]; then
        install_missing g++
        return
    fi
    root=("$here/tools/debian_root.sh" "$here/build-$arch/root" "$arch")
    on=("${root[@]}" run)
    installer=("${root[@]}" install)
    install_missing "crossbuild-essential-$arch" qt6-base-dev
    local triplet processor
    triplet="$("${on[@]}" dpkg-architecture -a "$arch" -q DEB_HOST_GNU_TYPE 2>/dev/null)"
    processor="$("${on[@]}" dpkg-architecture -a "$arch" -q DEB_HOST_GNU_CPU 2>/dev/null)"
    cross=(-DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR="$processor" -DCMAKE_CXX_COMPILER="$triplet-g++"
        -DQT_HOST_PATH=/usr -DCPACK_DEBIAN_PACKAGE_ARCHITECTURE="$arch")
}

# The folder for one kind of build: build/ (the tests) and build-package/
# for this machine's architecture, inside build-ARCH/ for another.
folder() {
    if [ ${#root[@]} -eq 0 ]; then
        [ "$1" = tests ] && echo "$here/build" || echo "$here/build-$1"
    else
        echo "$here/build-$arch/$1"
    fi
}

configure() {
    "${on[@]}" cmake -S "$here" -B "$1" -G Ninja -DQUILLO_WERROR=ON "${cross[@]}" "${@:2}"
}

command="${1:-}"
case "$command" in
run)
    for_architecture "$native"
    install_missing "${build_tools[@]}" "${build_libraries[@]}"
    configure "$(folder tests)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
    cmake --build "$(folder tests)" --parallel --target quillomarde
    exec "$(folder tests)/quillomarde"
    ;;
test)
    for_architecture "${2:-$native}"
    mapfile -t libraries < <(for_build "${build_libraries[@]}" "${test_libraries[@]}")
    install_missing "${build_tools[@]}" "${test_tools[@]}" "${libraries[@]}"
    configure "$(folder tests)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DQUILLO_BENCH=ON
    "${on[@]}" cmake --build "$(folder tests)" --parallel
    [ ${#root[@]} -eq 0 ] || "${root[@]}" emulate
    "${on[@]}" ctest --test-dir "$(folder tests)" --output-on-failure
    ;;
package)
    for_architecture "${2:-$native}"
    mapfile -t libraries < <(for_build "${build_libraries[@]}")
    install_missing "${build_tools[@]}" "${package_tools[@]}" "${libraries[@]}"
    # Without the tests, neither GoogleTest nor Qt Test may be looked for.
    configure "$(folder package)" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_Qt6Test=ON
    "${on[@]}" cmake --build "$(folder package)" --parallel
    rm -f "$(folder package)"/*.deb
    # dpkg-shlibdeps looks for the libraries of the package's architecture.
    (cd "$(folder package)" && "${on[@]}" env DEB_HOST_ARCH="$arch" cpack -G DEB)
    ls "$(folder package)"/quillomarde_*.deb
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
    echo "usage: $0 run|test [arm64|armhf]|package [amd64|arm64|armhf]|windows [x86_64|i686]" >&2
    exit 2
    ;;
esac
