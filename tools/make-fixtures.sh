#!/usr/bin/env bash
# Regenerates the massif test fixtures and the example file.
#
#   tools/make-fixtures.sh
#
# Builds the programs in tests/fixtures/programs/ (-g -O0) in a temporary
# directory, runs each under `valgrind --tool=massif` with the options below
# and writes the outputs to tests/fixtures/ and examples/. Programs are run
# as ./NAME from inside the temporary directory so that the "cmd:" lines
# stay short and do not depend on the machine. The last section writes the
# malformed and derived files in tests/fixtures/malformed/.
#
# Uses whatever valgrind, cc (or $CC) and c++ (or $CXX) are on PATH.
# Instruction counts ("time=" with time_unit i) depend on the compiler and
# C library, so a rerun on another system changes numbers but not shapes.

# The printf formats below are our own fixed strings with \n escapes.
# shellcheck disable=SC2059
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
FIX=$ROOT/tests/fixtures
PROGRAMS=$FIX/programs
BAD=$FIX/malformed
EXAMPLES=$ROOT/examples
CC=${CC:-cc}
CXX=${CXX:-c++}

for tool in valgrind "$CC" "$CXX" gzip bzip2 xz; do
    command -v "$tool" >/dev/null || { echo "make-fixtures: $tool not found" >&2; exit 1; }
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$FIX" "$BAD" "$EXAMPLES"

echo "== building in $WORK"
for c in simple stacks custom_alloc many example early_peak; do
    "$CC" -g -O0 -o "$WORK/$c" "$PROGRAMS/$c.c"
done
"$CXX" -g -O0 -std=c++17 -o "$WORK/templates" "$PROGRAMS/templates.cpp"
"$CC" -g -O0 -o "$WORK/sites" "$PROGRAMS/sites.c"
"$CC" -g -O0 -o "$WORK/overlap" "$PROGRAMS/overlap.c"

# massif OUTPUT PROGRAM [massif options...]
# The output is first written under its own base name inside $WORK, so the
# "desc:" line names only that base name.
massif() {
    local out=$1 prog=$2 base
    shift 2
    base=$(basename "$out")
    (cd "$WORK" && valgrind -q --tool=massif "$@" --massif-out-file="$base" "./$prog" >/dev/null)
    mv "$WORK/$base" "$out"
    echo "   $(basename "$out"): ${*:-(default options)}"
}

echo "== running massif"
massif "$FIX/simple.massif"          simple
massif "$FIX/simple-detailed.massif" simple --detailed-freq=1
massif "$FIX/simple-depth.massif"    simple --depth=3 --threshold=5.0
massif "$FIX/time-ms.massif"         simple --time-unit=ms
massif "$FIX/time-b.massif"          simple --time-unit=B
massif "$FIX/pages.massif"           simple --pages-as-heap=yes --max-snapshots=20 --depth=4
# Deep recursion makes deep trees: limit depth and count to keep it small.
massif "$FIX/stacks.massif"          stacks --stacks=yes --depth=10 --max-snapshots=40
massif "$FIX/custom-alloc.massif"    custom_alloc
massif "$FIX/custom-alloc-fn.massif" custom_alloc --alloc-fn=my_pool_alloc
# Without the limits the deep STL call chains make this file several times larger.
massif "$FIX/templates.massif"       templates --threshold=2.0 --max-snapshots=16
massif "$FIX/many.massif"            many
# One function allocating from two code addresses of one line, in different snapshots.
massif "$FIX/sites.massif"           sites --detailed-freq=1
# A high peak early in a long run: its labels sit at the top left of the chart.
massif "$FIX/early-peak.massif"      early_peak
# Again, but with both code addresses holding memory at the same time.
massif "$FIX/overlap.massif"         overlap --detailed-freq=1
massif "$EXAMPLES/massif.out.example" example --detailed-freq=4

# Two runs of one program with different input sizes, compared with each
# other by the tests. The second is built shifted (other code addresses and
# source lines, see the program) in a directory of its own, so that both
# "cmd:" lines read "./compare N". An exact peak: the expected changes are
# read off the peak trees.
"$CC" -g -O0 -o "$WORK/compare" "$PROGRAMS/compare.c"
mkdir -p "$WORK/shifted"
"$CC" -g -O0 -DSHIFTED -o "$WORK/shifted/compare" "$PROGRAMS/compare.c"
(cd "$WORK" && valgrind -q --tool=massif --peak-inaccuracy=0.0 --massif-out-file=compare-small.massif ./compare 40 >/dev/null)
(cd "$WORK/shifted" && valgrind -q --tool=massif --peak-inaccuracy=0.0 --massif-out-file=compare-large.massif ./compare 120 >/dev/null)
mv "$WORK/compare-small.massif" "$WORK/shifted/compare-large.massif" "$FIX/"
echo "   compare-small.massif, compare-large.massif: ./compare 40 and, shifted, ./compare 120"

echo "== compressed copies"
for f in simple templates; do
    # -n keeps name and time stamp out of the gzip header.
    gzip -9 -n -c "$FIX/$f.massif" >"$FIX/$f.massif.gz"
    bzip2 -9 -c "$FIX/$f.massif" >"$FIX/$f.massif.bz2"
    xz -9 -c "$FIX/$f.massif" >"$FIX/$f.massif.xz"
    if command -v zstd >/dev/null; then
        zstd -q -19 -f -c "$FIX/$f.massif" >"$FIX/$f.massif.zst"
    else
        echo "   zstd not found: keeping any existing $f.massif.zst" >&2
    fi
done

echo "== malformed and derived files"
# Exact bytes matter here (trailing spaces, missing final newline), hence printf.
HDR='desc: --massif-out-file=x.massif\ncmd: ./x\ntime_unit: i\n'
SEP='#-----------\n'
snap() { # NUMBER HEAP_TREE_WORD
    printf "${SEP}snapshot=$1\n${SEP}time=100\nmem_heap_B=300\nmem_heap_extra_B=8\nmem_stacks_B=0\nheap_tree=$2\n"
}

printf 'desc:--massif-out-file=x.massif\ncmd: ./x\ntime_unit: i\n' >"$BAD/bad-desc.massif"
printf 'desc: --massif-out-file=x.massif\ncmd:./x\ntime_unit: i\n' >"$BAD/bad-cmd.massif"
printf 'desc: --massif-out-file=x.massif\ncmd: ./x\ntime-unit: i\n' >"$BAD/bad-timeunit.massif"
printf "$HDR#----------\nsnapshot=0\n$SEP" >"$BAD/bad-separator.massif"
printf "$HDR${SEP}snapshot=-1\n$SEP" >"$BAD/bad-snapshot-number.massif"
printf "$HDR${SEP}snapshot=\n$SEP" >"$BAD/empty-snapshot-number.massif"
printf "$HDR${SEP}snapshot=0\n${SEP}time=12x\n" >"$BAD/bad-time.massif"
printf "$HDR${SEP}snapshot=0\n${SEP}time=0\nmem_heap_B=12kB\n" >"$BAD/bad-mem-heap.massif"
{ printf "$HDR"; snap 0 empty; snap 1 Peak; } >"$BAD/bad-heap-tree-word.massif"
{ printf "$HDR"; snap 0 'empty '; } >"$BAD/heap-tree-trailing-space.massif"
{ printf "$HDR"; snap 0 detailed
  printf 'n1: 300 (heap allocation functions) malloc/new/new[], --alloc-fns, etc.\n'
  printf ' n1: 300 0x109190: make_block (simple.c:12)\n'
  printf ' n0: 300 0x1091C7: fill_block (simple.c:19)\n'; } >"$BAD/bad-node-indent.massif"
{ printf "$HDR"; snap 0 detailed
  printf 'n2: 300 (heap allocation functions) malloc/new/new[], --alloc-fns, etc.\n'
  printf ' n0: 200 0x109190: make_block (simple.c:12)\n'
  printf ' n0: 100\n'; } >"$BAD/node-without-label.massif"
{ printf "$HDR"; snap 0 detailed
  printf 'n1: 300 (heap allocation functions) malloc/new/new[], --alloc-fns, etc.\n'
  printf ' n0:  300 0x109190: make_block (simple.c:12)\n'; } >"$BAD/node-two-spaces.massif"
# A node announcing more children than follow: the next separator is read as a child.
{ printf "$HDR"; snap 0 detailed
  printf 'n2: 300 (heap allocation functions) malloc/new/new[], --alloc-fns, etc.\n'
  printf ' n0: 300 0x109190: make_block (simple.c:12)\n'
  snap 1 empty; } >"$BAD/too-many-children.massif"
# One child line too many: it is left to the main loop, where it is no separator.
{ printf "$HDR"; snap 0 detailed
  printf 'n1: 300 (heap allocation functions) malloc/new/new[], --alloc-fns, etc.\n'
  printf ' n0: 200 0x109190: make_block (simple.c:12)\n'
  printf ' n0: 100 0x1092B3: grow_string (simple.c:43)\n'
  snap 1 empty; } >"$BAD/too-few-children.massif"
printf "$HDR" >"$BAD/header-only.massif"
printf "${HDR}\n" >"$BAD/header-blank-line.massif"
: >"$BAD/empty.massif"
printf 'version: 1\ncreator: some-other-profiler\npid: 4242\ncmd:  ./simple\n\nevents: Ir\n' >"$BAD/not-massif.txt"

# Derived from the real outputs above.
# Cut inside the peak's heap tree, after its root line and two more lines.
awk '{ print } /^heap_tree=peak$/ { n = 4 } n && !--n { exit }' "$FIX/simple.massif" \
    >"$BAD/truncated-in-tree.massif"
sed 's/$/\r/' "$FIX/simple-depth.massif" >"$BAD/crlf.massif"
# The real file ends with "heap_tree=empty"; drop only the final line feed.
head -c -1 "$FIX/pages.massif" >"$BAD/no-final-newline.massif"

# A valid file whose peak tree holds one label of exactly 70,000 bytes, longer
# than a 64 KiB line buffer, between two ordinary nodes.
long_label() {
    local prefix='0x10A000: ' suffix=' (long.cpp:7)'
    printf '%s' "$prefix"
    head -c $((70000 - ${#prefix} - ${#suffix})) /dev/zero | tr '\0' 'L'
    printf '%s' "$suffix"
}
long_line_file() { # EXTRA_LINE_AFTER_TREE
    printf "$HDR"
    snap 0 empty
    printf "${SEP}snapshot=1\n${SEP}time=200\nmem_heap_B=600\nmem_heap_extra_B=16\nmem_stacks_B=0\nheap_tree=peak\n"
    printf 'n3: 600 (heap allocation functions) malloc/new/new[], --alloc-fns, etc.\n'
    printf ' n0: 300 0x109190: make_block (simple.c:12)\n'
    printf ' n0: 200 '; long_label; printf '\n'
    printf ' n0: 100 0x1092B3: grow_string (simple.c:43)\n'
    printf "$1"
}
long_line_file "$(snap 2 empty)\n" >"$BAD/long-line.massif"
# Same, then a broken snapshot header: its line number shows whether the long
# line was counted once.
long_line_file "${SEP}snapshot=2\n${SEP}time=300\nmem_heap_B=-1\n" >"$BAD/long-line-then-error.massif"

echo "== sizes"
status=0
for f in "$FIX"/*.massif* "$BAD"/* "$EXAMPLES/massif.out.example"; do
    size=$(wc -c <"$f")
    printf '%8d  %s\n' "$size" "${f#"$ROOT"/}"
    if [ "$size" -gt 102400 ]; then
        echo "   ^ larger than 100 KiB" >&2
        status=1
    fi
done
exit $status
