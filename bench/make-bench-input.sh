#!/usr/bin/env bash
# Generates the large benchmark input bench/data/massif.out.bench (and a gzip
# copy next to it). The files are not committed: bench/data/ is ignored.
#
#   bench/make-bench-input.sh [SCALE]     (default SCALE 3)
#
# The workload is bench/workload.py run by the Python 3 interpreter under
#   valgrind --tool=massif --detailed-freq=1 --max-snapshots=1000
#            --depth=60 --threshold=0.01
# Every snapshot is detailed, and the interpreter's native stacks are deep
# (up to the depth limit), so the file has hundreds of snapshots, millions of
# tree nodes and several hundred distinct labels: about 450 MB, ~800
# snapshots, in well under a minute on a 2-core machine.
#
# Python keeps its own small-object allocator (no PYTHONMALLOC=malloc): with
# every object a malloc call the trees grow past 1.5 GB even at SCALE 0.1.
# A larger SCALE makes a larger heap, so fewer sites pass the 0.01% threshold
# and the file gets smaller (SCALE 8 gives ~300 MB); the size varies by some
# 10% between runs and interpreter versions.
#
# Needs valgrind, gzip and a python3 binary (set PYTHON to choose one; it must
# be the interpreter itself, not a wrapper script, or massif profiles the
# wrapper).
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
OUT=$HERE/data
SCALE=${1:-3}

if [ -z "${PYTHON:-}" ]; then
    if [ -x /usr/bin/python3 ]; then
        PYTHON=/usr/bin/python3
    else
        PYTHON=$(python3 -c 'import os, sys; print(os.path.realpath(sys.executable))')
    fi
fi
for tool in valgrind gzip "$PYTHON"; do
    command -v "$tool" >/dev/null || { echo "make-bench-input: $tool not found" >&2; exit 1; }
done

mkdir -p "$OUT"
FILE=$OUT/massif.out.bench
start=$(date +%s)
# Fixed hash seed: set and dict layouts, and so the allocations, repeat.
(cd "$HERE" && PYTHONHASHSEED=0 PYTHONDONTWRITEBYTECODE=1 valgrind -q --tool=massif \
    --detailed-freq=1 --max-snapshots=1000 --depth=60 --threshold=0.01 \
    --massif-out-file="$FILE" "$PYTHON" -s workload.py "$SCALE" >/dev/null)
profiled=$(date +%s)
gzip -6 -n -c "$FILE" >"$FILE.gz"
done_at=$(date +%s)

echo "file:      $FILE"
echo "size:      $(wc -c <"$FILE") bytes (gzip: $(wc -c <"$FILE.gz") bytes)"
echo "snapshots: $(grep -c '^snapshot=' "$FILE")"
echo "nodes:     $(grep -c '^ *n[0-9]' "$FILE")"
echo "labels:    $(sed -n 's/^ *n[0-9]*: [0-9]* //p' "$FILE" | sort -u | wc -l) distinct"
echo "time:      $((profiled - start)) s under massif, $((done_at - profiled)) s gzip"
