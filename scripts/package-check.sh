#!/usr/bin/env bash
# Checks feroq as another project sees it (run by scripts/test.sh):
#  1. builds the libraries and the feroq tool without test hooks
#     (FEROQ_TESTING off) in build-install, and checks that the tool and the
#     example compiled with include/ only on their include path;
#  2. installs into a fresh prefix; no installed header names a test hook and
#     `nm -D` of the installed libraries shows no test-only symbol;
#  3. builds the example program (tools/example) against that prefix twice,
#     with find_package(feroq) and with pkg-config, and runs both: each
#     publishes applications into a fresh farm, lists them and releases
#     everything;
#  4. makes the Debian package (cpack -G DEB), installs it with dpkg -i,
#     builds and runs the example against the system installation the same
#     two ways, runs the installed tool, and removes (purges) the package.
# Step 4 needs root (or sudo) and takes a lock, so that two runs on one
# machine do not install and remove the package under each other.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build=build-install
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== package check: build without test hooks"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFEROQ_TESTING=OFF \
  -DFEROQ_BUILD_TESTS=OFF -DFEROQ_BUILD_TOOLS=ON -DFEROQ_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target feroq feroq-cli feroq-example

# The tool and the example see include/ only: no compile command of theirs
# names src/ as an include directory.
leaks=$(awk -v src="$root/src" '
  /"command":/ { command = $0 }
  /"file":/ && ($0 ~ /\/tools\//) && index(command, "-I" src) { print $0 }
' "$build/compile_commands.json")
if [ -n "$leaks" ]; then
  echo "the tool or the example is compiled with src/ on its include path:" >&2
  echo "$leaks" >&2
  exit 1
fi

# Names that exist only for tests; none may be installed.
hooks='FailAllocationAt|ClearAllocationFailure|AllocationFailureTriggered|AllocationAttempts|LiveHeapBlocks'
hooks+='|EnterServiceCall|InjectServiceFault|InjectDetailedErrors|TakeArmedDetailCodes|ClearServiceFaults'
hooks+='|ServiceCallLog|ScopedServiceCallSuppression|LastReceived|ClearReceived|RecordReceived'
hooks+='|ComposedOrOverride|BlockedEventWaits|EventStore|ForTest|FEROQ_TESTING|feroq_internals'

check_installed() {  # $1: include directory, $2: library directory
  if grep -rEn "$hooks" "$1/feroq"; then
    echo "an installed header names a test hook" >&2
    exit 1
  fi
  local found=0
  for lib in "$2"/libferoq*.so; do
    found=$((found + 1))
    if nm -DC --defined-only "$lib" | grep -E "$hooks"; then
      echo "$lib exports a test-only symbol" >&2
      exit 1
    fi
  done
  if [ "$found" -ne 3 ]; then
    echo "expected the three feroq libraries in $2, found $found" >&2
    exit 1
  fi
}

# Runs the example on a fresh farm file and checks that it published and
# listed the applications.
# The farm file is made first by the installed tool (`feroq farm init`): the
# services open only a farm file that exists.
run_example() {  # $1: the program, $2: a name for the farm file, $3: the feroq tool
  local farm="$work/$2.db" out="$work/$2.out"
  FEROQ_FARM="sqlite:$farm" "$3" farm init >/dev/null
  FEROQ_FARM="sqlite:$farm" "$1" >"$out"
  if ! grep -qF '\Applications\Office\Tools\Editor' "$out" || ! grep -qF '\Applications\Calculator' "$out"; then
    echo "$1 did not list the applications it published:" >&2
    cat "$out" >&2
    exit 1
  fi
  # A second run finds the farm set up and lists the same applications.
  FEROQ_FARM="sqlite:$farm" "$1" | grep -qF '\Applications\Office\Tools\Editor'
}

# Builds the example against an installation: $1 a name, $2 a prefix (empty
# for the system's own).
build_consumers() {
  local name=$1 prefix=$2 tool=${2:+$2/bin/}feroq
  cmake -S tools/example -B "$work/$name-cmake" -G Ninja ${prefix:+-DCMAKE_PREFIX_PATH="$prefix"} >/dev/null
  cmake --build "$work/$name-cmake" >/dev/null
  run_example "$work/$name-cmake/feroq-example" "$name-cmake" "$tool"

  local pc_path=${prefix:+$(dirname "$(find "$prefix" -name feroq.pc)")}
  local flags libdir
  flags=$(PKG_CONFIG_PATH="$pc_path" pkg-config --cflags --libs feroq)
  libdir=$(PKG_CONFIG_PATH="$pc_path" pkg-config --variable=libdir feroq)
  # shellcheck disable=SC2086  # the flags are words
  c++ -std=c++20 tools/example/main.cc $flags -Wl,-rpath,"$libdir" -o "$work/$name-pc"
  run_example "$work/$name-pc" "$name-pc" "$tool"
}

echo "== package check: install into a fresh prefix"
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
check_installed "$prefix/include" "$prefix/lib"
echo "== package check: the example against the prefix (find_package, pkg-config)"
build_consumers prefix "$prefix"

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "== package check: no root and no sudo, the Debian package is not tried" >&2
    exit 0
  fi
  SUDO="sudo"
fi

echo "== package check: Debian package"
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/feroq_*.deb)
dpkg-deb -c "$deb" | grep -q 'usr/share/man/man1/feroq.1'
exec 9>/tmp/feroq-package-check.lock
flock 9
$SUDO dpkg -i "$deb" >/dev/null
remove_package() { $SUDO dpkg --purge feroq >/dev/null; }
trap 'remove_package; rm -rf "$work"' EXIT
check_installed /usr/include "$(dirname "$(dpkg -L feroq | grep '/libferoq\.so$')")"
feroq --farm "sqlite:$work/tool.db" farm init >/dev/null
feroq --farm "sqlite:$work/tool.db" farm info >/dev/null
echo "== package check: the example against the installed package (find_package, pkg-config)"
build_consumers system ""
remove_package
trap 'rm -rf "$work"' EXIT
if dpkg-query -W -f='${Status}' feroq 2>/dev/null | grep -q installed; then
  echo "the package is still installed after dpkg --purge" >&2
  exit 1
fi
echo "== package check: passed"
