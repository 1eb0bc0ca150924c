#!/usr/bin/env bash
# The one test command: configures and builds Quillmap in build/ inside the
# KF6 environment and runs every test through CTest on the offscreen platform.
#
#   ./test.sh [CTEST-ARGUMENTS...]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

exec tools/kf6-env bash -c '
set -euo pipefail
build=${QUILLMAP_BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON
fi
cmake --build "$build"
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure --timeout 600 "$@"
' test.sh "$@"
