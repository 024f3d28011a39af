#!/usr/bin/env bash
# Builds feroq and runs every test: once in a normal build, once built with
# AddressSanitizer and UndefinedBehaviorSanitizer (clang), failing on any
# report.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++-14 -DFEROQ_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j2
ctest --test-dir build-asan --output-on-failure -j2
