#!/usr/bin/env bash
# Starts Quillmap with the given files (paths or URLs), or with the example
# file of the repository when none is given. Builds it first when needed.
# Without a display it prints the report of each file instead, as
# quillmap-report does.
#
#   ./run.sh [FILE...]
#   ./run.sh --report [QUILLMAP-REPORT ARGUMENTS...]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Host folders the environment shows at the same path: the current one, so
# that relative paths keep their meaning, and that of every path argument.
binds=("$PWD")
bind_folder_of() {
    local dir
    dir=$(dirname "$(realpath -m -- "$1")")
    [ ! -d "$dir" ] || binds+=("$dir")
}

# Runs the program $1, built first when needed, with the remaining arguments,
# from the caller's current folder.
run_in_env() {
    QUILLMAP_ENV_BIND=$(IFS=:; echo "${binds[*]}") QUILLMAP_CALLER_DIR=$PWD exec "$here/tools/kf6-env" bash -c '
set -euo pipefail
program=$1
shift
build=${QUILLMAP_BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON >/dev/null
fi
case "$program" in
quillmap) cmake --build "$build" --target quillmap kgraphviewerpart >/dev/null ;;
*) cmake --build "$build" --target quillmap-report >/dev/null ;;
esac
bin=$PWD/$build/bin
cd "$QUILLMAP_CALLER_DIR"
if [ "$program" = report-each ]; then
    # One report per file, then how to see them in the GUI.
    status=0
    first=1
    for file in "$@"; do
        [ "$first" = 1 ] || echo
        first=0
        "$bin/quillmap-report" "$file" || status=$?
    done
    echo "run.sh: no display, so this is the report of quillmap-report; to see Quillmap itself, set DISPLAY to an X server (a virtual one: Xvfb :1 & export DISPLAY=:1) and run ./run.sh again." >&2
    exit "$status"
fi
exec "$bin/$program" "$@"
' run.sh "$@"
}

if [ "${1:-}" = --report ]; then
    shift
    for arg in "$@"; do
        case "$arg" in
        *://*) ;;
        --*=*) bind_folder_of "${arg#*=}" ;;
        -*) ;;
        *) bind_folder_of "$arg" ;;
        esac
    done
    run_in_env quillmap-report "$@"
fi

files=()
for arg in "$@"; do
    if [[ "$arg" == *://* ]]; then
        files+=("$arg")
    else
        path=$(realpath -m -- "$arg")
        files+=("$path")
        bind_folder_of "$path"
    fi
done
[ ${#files[@]} -gt 0 ] || files=("$here/examples/massif.out.example")

if [ -z "${DISPLAY:-}" ]; then
    run_in_env report-each "${files[@]}"
fi
run_in_env quillmap "${files[@]}"
