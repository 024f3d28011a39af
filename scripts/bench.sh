#!/usr/bin/env bash
# Builds the benchmarks (Release, build-bench), runs every one with bounded
# time, and prints one table: each figure beside its reference measured in
# the same run, and their ratio. Takes a few minutes on a 2-core machine.
#
# BENCH_MIN_TIME (seconds per benchmark, default 0.2) trades time for
# steadier figures. The JSON of each program stays in build-bench/results.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ "${BENCH_SKIP_DEPS:-0}" != 1 ]]; then bash scripts/install-deps.sh; fi

# Without the test hooks, as a user's build is (an older build-bench kept
# FEROQ_TESTING=ON in its cache: it is turned off here).
cmake -S . -B build-bench -G Ninja -DFEROQ_BUILD_BENCH=ON -DFEROQ_BUILD_TESTS=OFF -DFEROQ_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j2

min_time="${BENCH_MIN_TIME:-0.2}"
results=build-bench/results
rm -rf "$results"
mkdir -p "$results"

run() {
  local label=$1 program=$2
  shift 2
  echo "running $label" >&2
  "$@" "build-bench/bench/$program" --benchmark_min_time="$min_time" \
    --benchmark_out="$results/$label.json" --benchmark_out_format=json \
    >"$results/$label.log" 2>&1 || { cat "$results/$label.log" >&2; return 1; }
}

for program in registry_bench enumeration_bench dn_lookup_bench name_builder_bench \
               export_bench sqlite_farm_bench large_farm_bench event_latency_bench \
               farm_vs_raw_bench; do
  run "$program" "$program" env
done
# The same enumeration with glibc keeping freed memory (no trimming back to
# the system between runs), to tell the library's cost from page faults.
run enumeration_trim_bench enumeration_bench env MALLOC_TRIM_THRESHOLD_=4294967295 MALLOC_TOP_PAD_=268435456

echo
echo "feroq benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
python3 bench/print_table.py "$results"
