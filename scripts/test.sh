#!/usr/bin/env bash
# Set-up, build and the whole test suite: once as built, once more under ASan+UBSan; then the
# threaded tests under ThreadSanitizer and every fuzz target for a fixed number of inputs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --test

export QT_QPA_PLATFORM=offscreen
# The set-up installs every tool and package the tests use: a test that finds one missing fails
# here instead of skipping.
export KD735_REQUIRE_SETUP=1
jobs=$(nproc)

# Compiler warnings are errors in every build below (fuzz.sh takes it from the environment).
export KD735_WERROR=ON

# The run command configures the same folder without tests and benchmarks: switch them on.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKD735_BUILD_TESTS=ON \
  -DKD735_BUILD_BENCH=ON -DKD735_WERROR=$KD735_WERROR
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure --no-tests=error -j "$jobs"

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKD735_SANITIZE=ON \
  -DKD735_BUILD_BENCH=OFF -DKD735_WERROR=$KD735_WERROR
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:${ASAN_OPTIONS:-}" \
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:${LSAN_OPTIONS:-}" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"

# The tests labelled "tsan" (those whose code runs threads), and only their executables.
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKD735_TSAN=ON \
  -DKD735_BUILD_BENCH=OFF -DKD735_WERROR=$KD735_WERROR
cmake --build build/tsan -j "$jobs" --target kd735_tsan_tests
# die_after_fork stays on: a test that starts a child process under the tool is no longer watched
# soundly (tests/apps/program_rig.h), and must fail rather than pass half-blind.
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1:${TSAN_OPTIONS:-}" \
  ctest --test-dir build/tsan -L tsan --output-on-failure -j "$jobs"

# Each fuzz target over its seeds, a fixed number of inputs with a fixed seed.
scripts/fuzz.sh
