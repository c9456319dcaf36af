#!/usr/bin/env bash
# Builds everything and runs the tests.
#   --sanitize  builds in build-asan with AddressSanitizer and
#               UndefinedBehaviorSanitizer (gcc).
#   --clang     builds in build-clang with clang, the same sanitizers and the
#               fuzz targets, the code they reach instrumented for coverage;
#               runs the tests, then every fuzz target for
#               PRESSEL_FUZZ_SECONDS seconds (30), two at a time.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh

dir=build
flags=(-DPRESSEL_WERROR=ON)
case "${1:-}" in
  --sanitize)
    dir=build-asan
    flags+=(-DPRESSEL_SANITIZE=ON -DPRESSEL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
    ;;
  --clang)
    dir=build-clang
    flags+=(-DPRESSEL_FUZZ=ON -DPRESSEL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1"
            -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
    ;;
esac
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$dir" --output-on-failure -j2
if [ "${1:-}" = "--clang" ]; then
  tools/fuzz.sh "$dir" "${PRESSEL_FUZZ_SECONDS:-30}"
fi
