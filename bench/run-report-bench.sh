#!/usr/bin/env bash
# Report benchmark: the text report of the large benchmark input as a whole
# process (start, read, report, exit), beside the bare parse of the same file
# (parsebench: Massif::Parser::parse alone, and its whole process) and
# valgrind's ms_print, in one run on a warm page cache. Each figure is the
# best of RUNS runs (default 3).
#
#   bench/run-report-bench.sh [RUNS]      (builds build-release/ when needed)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

input=bench/data/massif.out.bench
[ -f "$input" ] || bench/make-bench-input.sh

exec tools/kf6-env bash -c '
set -euo pipefail
input=$1
runs=$2
build=build-release
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target parsebench quillmap-report >/dev/null

calc() { awk "BEGIN { print $1 }"; }
# Best wall-clock seconds of a command over the runs, output thrown away.
best() {
    local best="" start end secs
    for _ in $(seq "$runs"); do
        start=$(date +%s.%N)
        "$@" >/dev/null
        end=$(date +%s.%N)
        secs=$(calc "$end - $start")
        if [ -z "$best" ] || [ "$(calc "$secs < $best")" = 1 ]; then best=$secs; fi
    done
    echo "$best"
}
cat "$input" >/dev/null # warm the page cache for every contender alike

parse_secs=""
for _ in $(seq "$runs"); do
    read -r secs _ < <("$build/bin/parsebench" "$input")
    if [ -z "$parse_secs" ] || [ "$(calc "$secs < $parse_secs")" = 1 ]; then parse_secs=$secs; fi
done
parse_process=$(best "$build/bin/parsebench" "$input")
report_process=$(best "$build/bin/quillmap-report" "$input")
ms_print=$(best ms_print "$input")

printf "input: %s (%.1f MB), best of %s runs\n\n" "$input" "$(calc "$(stat -c %s "$input") / 1000000")" "$runs"
printf "%-44s %9s\n" "what" "seconds"
printf "%-44s %9.3f\n" "bare parse (Parser::parse, in parsebench)" "$parse_secs"
printf "%-44s %9.3f\n" "parsebench, whole process" "$parse_process"
printf "%-44s %9.3f\n" "quillmap-report FILE, whole process" "$report_process"
printf "%-44s %9.3f\n" "ms_print FILE (peer)" "$ms_print"
printf "\nreport process minus bare parse: %.3f s (allowed: 0.300)\n" "$(calc "$report_process - $parse_secs")"
' run-report-bench "$input" "${1:-3}"
