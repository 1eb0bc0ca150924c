#!/usr/bin/env bash
# Starts Quillmap with the given files (paths or URLs), or with the example
# file of the repository when none is given. Builds it first when needed.
#
#   ./run.sh [FILE...]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [ -z "${DISPLAY:-}" ]; then
    echo "run.sh: no display to show Quillmap on; set DISPLAY to an X server (for a virtual one: Xvfb :1 & export DISPLAY=:1) and run it again." >&2
    exit 1
fi

files=()
binds=()
for arg in "$@"; do
    if [[ "$arg" == *://* ]]; then
        files+=("$arg")
    else
        path=$(realpath -m -- "$arg")
        files+=("$path")
        binds+=("$(dirname "$path")")
    fi
done
[ ${#files[@]} -gt 0 ] || files=("$here/examples/massif.out.example")

QUILLMAP_ENV_BIND=$(IFS=:; echo "${binds[*]:-}") exec "$here/tools/kf6-env" bash -c '
set -euo pipefail
build=${QUILLMAP_BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON >/dev/null
fi
cmake --build "$build" --target quillmap kgraphviewerpart >/dev/null
exec "$build/bin/quillmap" "$@"
' run.sh "${files[@]}"
