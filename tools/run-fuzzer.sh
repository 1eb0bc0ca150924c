#!/usr/bin/env bash
# Fuzzes the massif reader and the dot generator with libFuzzer, under
# AddressSanitizer and UndefinedBehaviorSanitizer, for a given time.
#
#   tools/run-fuzzer.sh [SECONDS] [JOBS]      (default 600 seconds, 1 job)
#
# The corpus grows in bench/data/fuzz-corpus (seeded from the fixtures and
# fuzz/regressions); crashing, leaking or slow inputs land in
# bench/data/fuzz-findings. Add each finding to fuzz/regressions, where the
# test suite replays it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds=${1:-600}
jobs=${2:-1}

exec tools/kf6-env bash -c '
set -euo pipefail
seconds=$1 jobs=$2
build=build-fuzz
if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
        -DQUILLMAP_BUILD_FUZZERS=ON -DECM_ENABLE_SANITIZERS="address;undefined" >/dev/null
fi
cmake --build "$build" --target parserfuzzer
corpus=bench/data/fuzz-corpus findings=bench/data/fuzz-findings
mkdir -p "$corpus" "$findings"
cp -n tests/fixtures/*.massif tests/fixtures/malformed/* fuzz/regressions/* "$corpus"/ 2>/dev/null || true
rm -f "$corpus/.keep"
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
parallel=()
[ "$jobs" -le 1 ] || parallel=(-jobs="$jobs" -workers="$jobs")
cd bench/data # where parallel jobs write their fuzz-N.log files
"../../$build/bin/parserfuzzer" fuzz-corpus -artifact_prefix=fuzz-findings/ -max_total_time="$seconds" "${parallel[@]}" \
    -timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1
' run-fuzzer "$seconds" "$jobs"
