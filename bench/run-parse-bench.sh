#!/usr/bin/env bash
# Parse benchmark: Massif::Parser::parse over the large benchmark input, plain
# and gzip, with one thread and with all cores, beside the floors `wc -l` and
# `zcat` and valgrind's ms_print.
# Run by hand: bench/run-parse-bench.sh (builds build-release/ when needed).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

input=bench/data/massif.out.bench
[ -f "$input" ] && [ -f "$input.gz" ] || bench/make-bench-input.sh

exec tools/kf6-env bash -c '
set -euo pipefail
input=$1
build=build-release
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target parsebench >/dev/null
plain_bytes=$(stat -c %s "$input")

calc() { awk "BEGIN { print $1 }"; }
seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null; end=$(date +%s.%N); calc "$end - $start"; }
cat "$input" >/dev/null # warm the page cache for every contender alike

printf "input: %s (%.1f MB plain, %.1f MB gzip)\n\n" "$input" "$(calc "$plain_bytes / 1000000")" "$(calc "$(stat -c %s "$input.gz") / 1000000")"
printf "%-30s %9s %9s %14s %8s %12s\n" "what" "seconds" "MB/s" "data held MB" "B/node" "peak RSS MB"
for file in "$input" "$input.gz"; do
    for threads in 1 0; do
        read -r secs rate held peak snapshots nodes labels < <("$build/bin/parsebench" "$file" "$plain_bytes" --threads $threads)
        [ "$threads" = 1 ] && how="1 thread" || how="$(nproc) cores"
        printf "%-30s %9.3f %9.1f %14.1f %8.1f %12.1f\n" "parse $(basename "$file"), $how" "$secs" "$rate" "$held" \
            "$(calc "$held * 1000000 / $nodes")" "$peak"
    done
done
wc_secs=$(seconds wc -l "$input")
printf "%-30s %9.3f %9.1f\n" "wc -l (read floor)" "$wc_secs" "$(calc "$plain_bytes / 1000000 / $wc_secs")"
zcat_secs=$(seconds zcat "$input.gz")
printf "%-30s %9.3f %9.1f\n" "zcat (gunzip floor)" "$zcat_secs" "$(calc "$plain_bytes / 1000000 / $zcat_secs")"
ms_secs=$(seconds ms_print "$input")
printf "%-30s %9.3f %9.1f\n" "ms_print (peer)" "$ms_secs" "$(calc "$plain_bytes / 1000000 / $ms_secs")"
printf "\nshape: %s snapshots, %s tree nodes, %s distinct label buffers\n" "$snapshots" "$nodes" "$labels"
' run-parse-bench "$input"
