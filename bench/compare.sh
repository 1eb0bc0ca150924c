#!/usr/bin/env bash
# Before and after in one run: the figures of the large-file table for this
# checkout and for an older one, on the same input and machine, beside
# `wc -l`, `zcat` and valgrind's ms_print.
#
#   bench/compare.sh BASELINE-CHECKOUT [RUNS]
#
# Both checkouts need parsebench and shellbench built in their build-release/
# (see README.md); the input is this checkout's bench/data/massif.out.bench
# and its gzip copy. Times are the best of RUNS runs (default 3), which evens
# out other load on the machine; memory figures come from the last run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

baseline=$(cd "${1:?usage: bench/compare.sh BASELINE-CHECKOUT [RUNS]}" && pwd)
runs=${2:-3}
input=bench/data/massif.out.bench
[ -f "$input" ] && [ -f "$input.gz" ] || bench/make-bench-input.sh

QUILLMAP_ENV_BIND=$baseline exec tools/kf6-env bash -c '
set -euo pipefail
before=$1/build-release/bin
after=build-release/bin
input=$2
runs=$3
export QT_QPA_PLATFORM=offscreen
plain_bytes=$(stat -c %s "$input")
mb() { awk "BEGIN { printf \"%.1f\", $1 / 1000000 }"; }
calc() { awk "BEGIN { printf \"%.${2:-2}f\", $1 }"; }
seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null; end=$(date +%s.%N); calc "$end - $start" 3; }
min() { printf "%s\n" "$@" | sort -g | head -1; }
cat "$input" "$input.gz" >/dev/null # warm the page cache for every contender alike

# parsebench prints: seconds MB/s held-MB peak-MB snapshots nodes labels
parse() { local best="" line; for _ in $(seq "$runs"); do line=$("$@"); best=$(printf "%s\n%s\n" "$best" "$line" | sed "/^$/d" | sort -g | head -1); done; echo "$best"; }
read -r b_plain b_plain_rate b_held _ _ nodes _ < <(parse "$before/parsebench" "$input")
read -r a_plain1 a_plain1_rate a_held1 _ < <(parse "$after/parsebench" "$input" --threads 1)
read -r a_plain a_plain_rate a_held _ < <(parse "$after/parsebench" "$input" --threads 0)
read -r b_gz _ < <(parse "$before/parsebench" "$input.gz" "$plain_bytes")
read -r a_gz1 _ < <(parse "$after/parsebench" "$input.gz" "$plain_bytes" --threads 1)
read -r a_gz _ < <(parse "$after/parsebench" "$input.gz" "$plain_bytes" --threads 0)

wc_s=(); zcat_s=()
for _ in $(seq "$runs"); do wc_s+=("$(seconds wc -l "$input")"); zcat_s+=("$(seconds zcat "$input.gz")"); done
wc_best=$(min "${wc_s[@]}"); zcat_best=$(min "${zcat_s[@]}")
ms_best=$(seconds ms_print "$input")

# shellbench: the whole road in the main window.
field() { grep "^$2" <<<"$1" | awk "{ print \$NF }"; }
shell() {
    local out stall=() beyond=()
    for _ in $(seq "$runs"); do
        out=$("$1/shellbench" "$input" 2>/dev/null)
        stall+=("$(field "$out" "longest GUI stall showing")")
        beyond+=("$(field "$out" "beyond the bare parse")")
    done
    echo "$(min "${stall[@]}") $(min "${beyond[@]}") $(field "$out" "resident with the window open") $(field "$out" "resident with the file shown") $(field "$out" "resident after closing the tab") $(field "$out" "resident after a second")"
}
read -r b_stall b_beyond b_open b_shown b_closed b_closed2 < <(shell "$before")
read -r a_stall a_beyond a_open a_shown a_closed a_closed2 < <(shell "$after")

file_mb=$(mb "$plain_bytes")
printf "input: %s, %s MB plain, %s MB gzip, %s tree nodes; %s cores; best of %s runs\n\n" "$input" "$file_mb" "$(mb "$(stat -c %s "$input.gz")")" "$nodes" "$(nproc)" "$runs"
printf "| figure | before | after |\n|---|---|---|\n"
printf "| parse, plain, 1 thread | %s s, %s MB/s | %s s, %s MB/s |\n" "$b_plain" "$b_plain_rate" "$a_plain1" "$a_plain1_rate"
printf "| parse, plain, all cores | %s s, %s MB/s | %s s, %s MB/s |\n" "$b_plain" "$b_plain_rate" "$a_plain" "$a_plain_rate"
printf "| parse, gzip, 1 thread | %s s = %s x zcat | %s s = %s x zcat |\n" "$b_gz" "$(calc "$b_gz / $zcat_best")" "$a_gz1" "$(calc "$a_gz1 / $zcat_best")"
printf "| parse, gzip, all cores | %s s = %s x zcat | %s s = %s x zcat |\n" "$b_gz" "$(calc "$b_gz / $zcat_best")" "$a_gz" "$(calc "$a_gz / $zcat_best")"
printf "| data held by the parsed file | %s MB = %s x file, %s B/node | %s MB = %s x file, %s B/node |\n" \
    "$b_held" "$(calc "$b_held / $file_mb")" "$(calc "$b_held * 1000000 / $nodes" 1)" "$a_held" "$(calc "$a_held / $file_mb")" "$(calc "$a_held * 1000000 / $nodes" 1)"
printf "| longest GUI stall while the parsed file is shown | %s ms | %s ms |\n" "$b_stall" "$a_stall"
printf "| window start to chart shown and tree filled, beyond the bare parse | %s s | %s s |\n" "$b_beyond" "$a_beyond"
printf "| resident with the file shown | %s MB = %s x file | %s MB = %s x file |\n" "$b_shown" "$(calc "$b_shown / $file_mb")" "$a_shown" "$(calc "$a_shown / $file_mb")"
printf "| resident after closing the tab (before opening) | %s MB (%s MB) | %s MB (%s MB) |\n" "$b_closed" "$b_open" "$a_closed" "$a_open"
printf "| resident after a second open and close | %s MB | %s MB |\n" "$b_closed2" "$a_closed2"
printf "\nfloors and peer: wc -l %s s, zcat %s s, ms_print %s s\n" "$wc_best" "$zcat_best" "$ms_best"
' compare "$baseline" "$input" "$runs"
