#!/usr/bin/env bash
# Builds feroq and runs every test: once in a normal build, once built with
# AddressSanitizer and UndefinedBehaviorSanitizer (clang); then the tests that
# use threads (CTest label "threads") once more under ThreadSanitizer (clang);
# then the installed library as another project sees it
# (scripts/package-check.sh); last the Windows builds under Wine
# (scripts/windows.sh; FEROQ_TEST_WINDOWS=0 leaves them out). Warnings are
# errors. Fails on any report.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/check-source-lists.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFEROQ_WERROR=ON >/dev/null
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++-14 -DFEROQ_SANITIZE=address,undefined -DFEROQ_WERROR=ON >/dev/null
cmake --build build-asan -j2
ctest --test-dir build-asan --output-on-failure -j2

# ThreadSanitizer (clang): the tests labelled "threads" (tests/CMakeLists.txt):
# waiting for events while another thread changes the farm, the user table's
# lock, the store's concurrent writers and waiters (both backends), several
# processes on one farm file, the platform's heap counters and interlocked
# functions, and the critical section. Only their programs are built; any
# report fails the run.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DFEROQ_SANITIZE=thread -DFEROQ_WERROR=ON >/dev/null
cmake --build build-tsan -j2 --target tests-threads
ctest --test-dir build-tsan --output-on-failure -j2 --no-tests=error -L threads

# The library as it is installed: without test hooks, from a prefix and from
# its Debian package.
bash scripts/package-check.sh

# The Windows builds (mingw-w64): the x86_64 and i686 test programs under
# Wine, the i686 build asserting the fixed record layouts (scripts/windows.sh).
# FEROQ_TEST_WINDOWS=0 leaves them out, for a quicker run on Linux alone.
if [[ "${FEROQ_TEST_WINDOWS:-1}" != 0 ]]; then
  bash scripts/windows.sh
fi
