#!/usr/bin/env bash
# Cross-builds feroq for Windows with mingw-w64 (the POSIX-thread compilers)
# and runs the Windows test programs under Wine:
#   - x86_64: the libraries as DLLs, the feroq tool, the test programs; then
#     every test of that build under wine64 (memory farm), headless, in a
#     Wine prefix made for this run and removed after it;
#   - i686: the same build, compiled and linked (the fixed record layouts
#     are asserted at compile time); its tests run only where this machine
#     can run 32-bit Windows programs, else the script says it skipped them.
# Warnings are errors. Build folders: build-win-x86_64, build-win-i686.
# Prints how long each stage took. Run scripts/install-deps.sh first.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix wine wineboot wineserver; do
  if ! command -v "$tool" >/dev/null; then
    echo "windows.sh: $tool is missing (scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done

launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

# The Wine prefix of this run, and the folders of the compilers' runtime
# DLLs (libstdc++, libgcc, winpthread), which the programs load from WINEPATH.
prefix=$(mktemp -d /tmp/feroq-wine.XXXXXX)
cleanup() {
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=

runtime_path() {
  local compiler=$1 dirs=() dll
  for dll in libstdc++-6.dll libwinpthread-1.dll; do
    dirs+=("$(dirname "$("$compiler" -print-file-name="$dll")")")
  done
  local IFS=';'
  echo "${dirs[*]}"
}

# configure_and_build ARCH [TARGET...]: every target when none is named.
configure_and_build() {
  local arch=$1 dir=build-win-$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFEROQ_WERROR=ON "${launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/mingw-$arch.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR=wine \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
  cmake --build "$dir" -j2 ${1:+--target "$@"}
}

stage_start=$SECONDS
configure_and_build x86_64
echo "windows.sh: x86_64 build: $((SECONDS - stage_start)) s"

stage_start=$SECONDS
# One persistent server for every test program of the run, started before
# the prefix is made (a second start finds it running and fails).
wineserver -p
wineboot -i >/dev/null 2>&1
# A test that fails is run once more: under a loaded machine Wine has
# failed to start a test program at all (a failure after 0.00 s, no output);
# a real fault fails both runs.
WINEPATH="$(runtime_path x86_64-w64-mingw32-g++-posix)" \
  ctest --test-dir build-win-x86_64 --output-on-failure -j2 --no-tests=error --timeout 300 \
  --repeat until-pass:2
echo "windows.sh: x86_64 tests under wine64: $((SECONDS - stage_start)) s"

# A 32-bit program runs only with Wine's 32-bit half (wine32, an i386
# package that scripts/install-deps.sh installs). Without it the i686 build
# makes the libraries and the tool (every fixed record layout is asserted as
# they compile) and not the test programs it could not run.
if [[ -x /usr/lib/wine/wine ]]; then
  stage_start=$SECONDS
  configure_and_build i686
  echo "windows.sh: i686 build: $((SECONDS - stage_start)) s"
  stage_start=$SECONDS
  WINEPATH="$(runtime_path i686-w64-mingw32-g++-posix)" \
    ctest --test-dir build-win-i686 --output-on-failure -j2 --no-tests=error --timeout 300 \
    --repeat until-pass:2
  echo "windows.sh: i686 tests under wine: $((SECONDS - stage_start)) s"
else
  stage_start=$SECONDS
  configure_and_build i686 feroq-cli
  echo "windows.sh: i686 build of the libraries and the tool: $((SECONDS - stage_start)) s"
  echo "windows.sh: skipped the i686 tests: this machine cannot run 32-bit Windows programs (no wine32)"
fi
