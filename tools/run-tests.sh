#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: once as
# shipped, once more under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh test

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

# Every option this run relies on is set here, whatever an earlier
# run-app.sh left in the cache; a run that finds no tests fails.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARDELO_SANITIZE=OFF \
    -DVARDELO_BUILD_TESTS=ON -DVARDELO_BUILD_BENCH=ON
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure --no-tests=error -j "$jobs")

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARDELO_SANITIZE=ON \
    -DVARDELO_BUILD_TESTS=ON -DVARDELO_BUILD_BENCH=OFF
cmake --build build-sanitize -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tools/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-sanitize && ctest --output-on-failure --no-tests=error -j "$jobs")

# The core's tests once more under ThreadSanitizer, which cannot share a
# build with AddressSanitizer. The window's tests stay out: Qt's painting
# threads are not built for it and report races of their own.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARDELO_SANITIZE=OFF -DVARDELO_SANITIZE_THREAD=ON \
    -DVARDELO_BUILD_TESTS=ON -DVARDELO_BUILD_BENCH=OFF
tsan_tests=(tst_core tst_bridgecore tst_network tst_lines)
cmake --build build-tsan -j "$jobs" --target "${tsan_tests[@]}"
# ser2net is started by fork() from a process that has threads.
export TSAN_OPTIONS=halt_on_error=1:die_after_fork=0:suppressions=$PWD/tools/tsan.supp
(cd build-tsan && ctest --output-on-failure --no-tests=error -j "$jobs" -R "^($(IFS='|'; echo "${tsan_tests[*]}"))\$")
