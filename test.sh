#!/usr/bin/env bash
# The one test command: configures and builds Quillmap inside the KF6
# environment and runs the tests through CTest on the offscreen platform.
#
#   ./test.sh [--asan | --tsan] [CTEST-ARGUMENTS...]
#
# Without an option: a Debug build in build/ and every test.
# --asan: build-asan/, every test under AddressSanitizer (with leak checks)
#         and UndefinedBehaviorSanitizer.
# --tsan: build-tsan/, the tests labelled "threaded" under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

mode=plain
case "${1:-}" in
--asan) mode=asan; shift ;;
--tsan) mode=tsan; shift ;;
esac

exec tools/kf6-env bash -c '
set -euo pipefail
mode=$1
shift
suppressions=$PWD/tools/sanitizers
case "$mode" in
plain)
    build=${QUILLMAP_BUILD_DIR:-build}
    options=()
    labels=()
    ;;
asan)
    build=build-asan
    options=(-DECM_ENABLE_SANITIZERS="address;undefined")
    labels=()
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0"
    export LSAN_OPTIONS="suppressions=$suppressions/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$suppressions/ubsan.supp"
    ;;
tsan)
    build=build-tsan
    options=(-DECM_ENABLE_SANITIZERS=thread)
    labels=(-L threaded)
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$suppressions/tsan.supp"
    ;;
esac
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON "${options[@]}"
fi
if [ "$mode" = tsan ]; then
    # Only what the threaded tests need: test names are their targets, but a
    # second run of one program under another name has no target of its own.
    targets=
    for name in $(cd "$build" && ctest -N -L threaded | sed -n "s/^ *Test *#[0-9]*: //p"); do
        if ninja -C "$build" -t query "$name" >/dev/null 2>&1; then
            targets="$targets $name"
        fi
    done
    cmake --build "$build" --target kgraphviewerpart $targets
else
    cmake --build "$build"
fi
export QT_QPA_PLATFORM=offscreen
# Window state is kept outside the test-mode folders: tests must not leave
# their offscreen window sizes to the next start of the program.
export XDG_STATE_HOME=$PWD/$build/test-state
cd "$build"
ctest --output-on-failure --timeout 900 "${labels[@]}" "$@"
' test.sh "$mode" "$@"
