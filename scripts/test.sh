#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite three times over:
# a plain tree (build/), an address + undefined-behaviour sanitizer tree (build-san/), and the
# concurrency-heavy test programs under the thread sanitizer (build-tsan/). Any failure or report fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O2 >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMODEM_SANITIZE=ON -DMODEM_BENCH=OFF >/dev/null
cmake --build build-san -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-san --output-on-failure -j "$jobs"

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DMODEM_TSAN=ON -DMODEM_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs"
