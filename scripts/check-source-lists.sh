#!/usr/bin/env bash
# The build lists its sources by name (no globs). Fails when a source file
# of src/, tests/, bench/, fuzz/ or tools/ is named by no CMakeLists.txt, so
# that a new file cannot be left out of the build (or a test out of the run)
# unnoticed.
set -euo pipefail
cd "$(dirname "$0")/.."
missing=0
while IFS= read -r file; do
  dir=$(dirname "$file")
  base=$(basename "$file")
  name=${base%.cc}
  listed=0
  # The nearest CMakeLists.txt at or above the file's directory names it by
  # its path from there (with or without .cc: tests and benchmarks are listed
  # by name).
  d=$dir
  while [ "$d" != "." ]; do
    if [ -f "$d/CMakeLists.txt" ]; then
      rel=${file#"$d"/}
      if grep -qE "(^|[[:space:]/(])(${rel//./\\.}|${rel%.cc})([[:space:])]|$)" "$d/CMakeLists.txt"; then
        listed=1
      fi
      break
    fi
    d=$(dirname "$d")
  done
  if [ "$listed" -eq 0 ]; then
    echo "not in the build: $file (add it to ${d}/CMakeLists.txt)" >&2
    missing=1
  fi
done < <(find src tests bench fuzz tools -name '*.cc' | sort)
exit "$missing"
