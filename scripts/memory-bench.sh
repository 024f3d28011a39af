#!/usr/bin/env bash
# Peak memory and wall time of the feroq tool's listings (farm info, app
# list, folder tree, export-all) on farm files of 1,000, 10,000 and 100,000
# applications, as one Markdown table (bench/memory_table.py).
#
# Builds the tool and the farm writer in Release (build-bench, shared with
# scripts/bench.sh). The seeded farm files are kept in build-bench/farms and
# reused by later runs. MEMORY_BENCH_SIZES overrides the sizes,
# MEMORY_BENCH_REPEAT the runs per command (default 3). The 100,000 farm
# takes about a minute to seed and the whole run a few minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ "${BENCH_SKIP_DEPS:-0}" != 1 ]]; then bash scripts/install-deps.sh; fi

cmake -S . -B build-bench -G Ninja -DFEROQ_BUILD_BENCH=ON -DFEROQ_BUILD_TESTS=OFF -DFEROQ_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j2 --target feroq-cli farm_seed

read -r -a sizes <<<"${MEMORY_BENCH_SIZES:-1000 10000 100000}"
python3 bench/memory_table.py build-bench/tools/feroq/feroq build-bench/bench/farm_seed \
  build-bench/farms "${sizes[@]}"
