#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, clang 14 with ASan and UBSan) in
# build-fuzz and runs each for a bounded time, starting from the seed corpus
# in fuzz/corpus/<target>. Fails when any target reports a crash, a leak, a
# timeout, running out of memory or a sanitizer finding; the input that did
# it is kept as build-fuzz/artifacts/<target>-*.
#
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 30)
# The inputs a run finds are kept in build-fuzz/corpus/<target> and are the
# starting point of the next run; the seed corpus in the repository is only
# read.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

seconds="${1:-30}"
# target:max_len (bytes). The farm file seeds are about 15 KB; the
# distinguished name target reads UTF-16, 1 KB is some 500 units.
targets=(
  icon_fuzzer:16384
  definition_reader_fuzzer:8192
  distinguished_name_fuzzer:1024
  sqlite_farm_fuzzer:16384
)
names=()
for entry in "${targets[@]}"; do names+=("${entry%%:*}"); done

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DFEROQ_BUILD_FUZZ=ON -DFEROQ_BUILD_TESTS=OFF -DFEROQ_WERROR=ON >/dev/null
# Only the fuzz targets (and the libraries they link), not the tools.
cmake --build build-fuzz -j2 --target "${names[@]}"

export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p build-fuzz/artifacts
failed=()
summary=()
for entry in "${targets[@]}"; do
  name="${entry%%:*}"
  max_len="${entry##*:}"
  work="build-fuzz/corpus/$name"
  log="build-fuzz/$name.log"
  mkdir -p "$work"
  echo "== $name: ${seconds}s"
  status=0
  # -timeout: one input may take at most 25 s (the farm file's busy wait is 5 s).
  # -seed: a fixed seed, so that a run on the same code makes the same inputs.
  "build-fuzz/fuzz/$name" "$work" "fuzz/corpus/$name" \
    -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=2048 -timeout=25 -seed=20261205 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$name-" >"$log" 2>&1 || status=$?
  # A target that fails before its first status line prints no figures.
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2 || true)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2 || true)
  summary+=("$(printf '%-28s %10s execs  cov %6s  ft %6s  %s' "$name" "${execs:-?}" "${cov:-?}" "${ft:-?}" \
    "$([ "$status" -eq 0 ] && echo ok || echo FAILED)")")
  if [ "$status" -ne 0 ]; then
    failed+=("$name")
    echo "-- $name failed (exit $status); the end of $log:"
    tail -60 "$log"
  fi
done

echo "== fuzzing summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
