#!/usr/bin/env bash
# Builds the whole project with AddressSanitizer + UndefinedBehaviorSanitizer (clang) into
# build-asan/ and runs the whole test suite headless with LeakSanitizer on. Any sanitizer
# report fails the test that caused it. Extra arguments go to ctest.
#   scripts/run-sanitizers.sh [ctest arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-asan"
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DNORVA_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

# Two frames per allocation: enough for the suppressions to tell a library's own allocations
# from ours (see lsan.supp), and cheap enough for the web engine tests.
export ASAN_OPTIONS="detect_leaks=1:malloc_context_size=2:abort_on_error=0:${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
# No GL driver: the tests draw without GPU anyway, and Mesa's driver is unloaded before the leak
# check runs, which leaves its own allocations without a module to attribute them to.
export QT_XCB_GL_INTEGRATION=none
cd "$build"
"$root/scripts/headless.sh" ctest --output-on-failure "$@"
