#!/usr/bin/env bash
# Installs what is needed, builds the agent and its tests with AddressSanitizer
# and UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="${TESSARON_BUILD_DIR:-$here/build/test}"

bash "$here/scripts/install-deps.sh"

# clang with lld builds the sanitized Debug tree in about half gcc's time. Both
# are read when the build directory is first configured; CXX and LDFLAGS set
# by the caller win (e.g. CXX=g++ to build with gcc).
export CXX="${CXX:-clang++}"
export LDFLAGS="${LDFLAGS:--fuse-ld=lld}"

cmake -S "$here" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug -DTESSARON_SANITIZE=ON -DTESSARON_BENCH=OFF -DTESSARON_WERROR=ON
cmake --build "$build" --parallel

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 300
