#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/, then fuzzes each one for the
# given number of seconds (60 by default), starting from a copy of its seed
# corpus. Prints one line per target; exits non-zero when any target fails.
# Needs clang and libclang-rt-14-dev besides the program's own packages.
#
#   tests/fuzz/run.sh [seconds-per-target]
set -euo pipefail

seconds="${1:-60}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$root/build-fuzz"
targets=(fuzz_format fuzz_text fuzz_display fuzz_receive)

if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds-per-target]" >&2
    exit 2
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILLO_WERROR=ON -DQUILLO_SANITIZE=address,undefined -DQUILLO_FUZZ=ON >/dev/null
cmake --build "$build" --target "${targets[@]}" --parallel 2

# A failing input, its log and the corpus grown from the seeds stay under
# build-fuzz/ for a look afterwards; the repository's seeds are not touched.
fuzz() {
    local target="$1" work="$build/fuzz-work/$1"
    rm -rf "$work"
    mkdir -p "$work/findings"
    cp -R "$root/tests/fuzz/corpus/$target" "$work/corpus"
    "$build/tests/fuzz/$target" "$work/corpus" -max_total_time="$seconds" -timeout=5 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/findings/" \
        >"$work/log" 2>&1
}

# From libFuzzer's "Done 12345 runs in 60 second(s)" and its last
# "cov: N ft: N corp: N/..." line.
summary() {
    local log="$1"
    sed -n -E 's/^Done ([0-9]+) runs in ([0-9]+) second.*/\1 runs in \2 s/p' "$log" | tail -n 1 | tr '\n' ','
    sed -n -E 's/.*cov: ([0-9]+) ft: ([0-9]+) corp: ([0-9]+).*/ \1 edges, \2 features, \3 corpus inputs/p' "$log" |
        tail -n 1
}

# The start of the sanitizer's or libFuzzer's report, where it says what
# went wrong and where, then the failing input's name and bytes.
report() {
    local log="$1"
    echo "---- from $log"
    if grep -q 'ERROR: ' "$log"; then
        sed -n '/ERROR: /,$p' "$log" | head -n 40
    else
        tail -n 40 "$log"
    fi
    grep -E '^(artifact_prefix|Base64)' "$log" || true
}

failed=0
for target in "${targets[@]}"; do
    work="$build/fuzz-work/$target"
    fuzz "$target" && status=0 || status=$?
    if [ "$status" -eq 0 ]; then
        printf '%-13s passed  %s\n' "$target" "$(summary "$work/log")"
        continue
    fi
    failed=1
    report "$work/log"
    printf '%-13s FAILED  exit %d; input and log in %s\n' "$target" "$status" "$work"
done
exit "$failed"
