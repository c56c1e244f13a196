#!/usr/bin/env bash
# Builds the benchmarks and runs them all, printing each result line: the
# Linux build, then the Windows build under Wine. Needs what `setup.sh
# test` and `setup.sh windows` install. Takes about twelve minutes.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$here/build-bench"

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLO_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --parallel >/dev/null
# Qt wants a private runtime folder; a fresh machine's root session may lack one.
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), $(uname -r)"
echo "== 1. server against the bare loop, 1 and 8 clients, then 10 s idle: offscreen"
QT_QPA_PLATFORM=offscreen "$build/bench/server_bench" 20000 10
echo "== 1. the same, dialog in a real window under Xvfb"
xvfb-run -a -s "-screen 0 1024x768x24 -noreset" env QT_QPA_PLATFORM=xcb "$build/bench/server_bench" 20000 10
echo "== 2. client Send round trip"
QT_QPA_PLATFORM=offscreen "$build/bench/client_bench" 5000
echo "== 3. start-up"
"$build/bench/startup_bench" 20
echo "== 4. memory after 100,000 exchanges with 1 client, then 100,000 with 8"
QT_QPA_PLATFORM=offscreen "$build/bench/server_bench" 100000 0
echo "== 5. log line cost (three runs)"
for run in 1 2 3; do
    QT_QPA_PLATFORM=offscreen "$build/bench/log_bench" 1000000
done
echo "== 6. odd peers (Linux): a silent client while the program is stopped for 1 s, a client behind 50 resetting peers, a silent server"
xvfb-run -a -s "-screen 0 1024x768x24 -noreset" env QT_QPA_PLATFORM=xcb "$here/bench/peer_faults.py" "$build/quillomarde"

# The display-stall runs stop an X server of their own with SIGSTOP.
stalled() {
    local numberFile
    numberFile="$(mktemp)"
    Xvfb -displayfd 5 -screen 0 1024x768x24 -noreset 5>"$numberFile" &
    local display=$!
    for _ in $(seq 100); do [ -s "$numberFile" ] && break; sleep 0.1; done
    DISPLAY=":$(cat "$numberFile")" QUILLO_DISPLAY_PID=$display QT_QPA_PLATFORM=xcb "$@" || true
    kill -CONT "$display" 2>/dev/null || true
    kill "$display"
    wait "$display" 2>/dev/null || true
    rm -f "$numberFile"
}
echo "== 7. display stopped for 60 s while 4 clients send (Linux)"
stalled "$build/bench/server_bench" --stall 60

# The Windows build's servers, cross-built, under Wine.
windows="$here/build-windows-bench"
cmake -S "$here" -B "$windows" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLO_BENCH=ON -DBUILD_TESTING=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$here/platform/win32/toolchain-x86_64.cmake" >/dev/null
cmake --build "$windows" --parallel --target bench_servers quillomarde >/dev/null
export WINEPREFIX="$windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$here/platform/win32/wine_prefix.sh" >/dev/null 2>&1
export QUILLO_WINE=/usr/lib/wine/wine64 QUILLO_BENCH_SERVERS="$windows/bench/bench_servers.exe"
echo "== 8. Windows build under Wine against a bare Winsock loop under Wine, dialog in a window under Xvfb"
xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$build/bench/server_bench" 2000 10
echo "== 9. display stopped for 60 s while 4 clients send (Windows build under Wine)"
stalled "$build/bench/server_bench" --stall 60

# A virtual machine's idle processor may halt at once (no halt polling in
# the guest), and waking it then takes tens of microseconds. Under Wine
# every socket call waits for Wine's server, so the server slows down
# whenever the machine idles, also when its display stops and the dialog's
# thread no longer runs. Spinners at the lowest priority keep all but one
# processor from halting (on every one, each wake-up would wait for a
# spinner to yield), so that what is left is the program's own.
awake() {
    local spinners=()
    for _ in $(seq "$(( $(nproc) > 1 ? $(nproc) - 1 : 1 ))"); do
        # Bounded, should this script be stopped before it kills them.
        nice -n 19 timeout 600 bash -c 'while :; do :; done' &
        spinners+=($!)
    done
    "$@" || true
    kill "${spinners[@]}"
    wait "${spinners[@]}" 2>/dev/null || true
}
echo "== 9b. the same with all but one processor kept awake by spinners at the lowest priority"
awake stalled "$build/bench/server_bench" --stall 60
echo "== 10. odd peers (Windows build under Wine)"
xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$here/bench/peer_faults.py" "$QUILLO_WINE" "$windows/quillomarde.exe"
/usr/lib/wine/wineserver64 -k || true
