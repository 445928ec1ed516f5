#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: all of them under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the threading tests once more under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

ensure_packages cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev

JOBS=$(nproc)

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELMAR_SANITIZE=address,undefined \
    -DCMAKE_CXX_FLAGS_DEBUG="-g -O1"
ninja -C build/asan -j"$JOBS"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/asan --output-on-failure -j"$JOBS"

cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELMAR_SANITIZE=thread \
    -DZELMAR_THREAD_TESTS_ONLY=ON -DZELMAR_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS_DEBUG="-g -O1"
ninja -C build/tsan -j"$JOBS"
# ThreadSanitizer of g++ 12 cannot map its shadow memory under the kernel's full address-space
# randomisation; run it without.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    run_without_aslr ctest --test-dir build/tsan -L threads --output-on-failure -j"$JOBS"

echo "All tests passed."
