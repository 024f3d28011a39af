#!/usr/bin/env bash
# Builds feroq and runs the main job against the embedded default farm: the
# feroq tool's demonstration (scripts/demo.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target feroq-cli
FEROQ=build/tools/feroq/feroq bash scripts/demo.sh "$@"
