#!/usr/bin/env bash
# Installs every Debian package that building, testing, fuzzing and
# benchmarking feroq needs. Safe to run again: it does nothing when all are
# present. Run as root (or with sudo available).
set -euo pipefail

packages=(
  cmake ninja-build g++ pkgconf          # build
  clang-14 libclang-rt-14-dev llvm-14    # sanitizer and fuzzing builds
  libgtest-dev libgmock-dev googletest   # tests
  icoutils                               # tests: icotool checks written ICO files
  chromium                               # tests: headless check of an exported HTML page
  libbenchmark-dev                       # benchmarks
  libsqlite3-dev                         # the embedded farm store
  libpq-dev                              # the farm on a PostgreSQL server
  postgresql-15                          # tests: a throwaway PostgreSQL cluster (initdb, pg_ctl)
  openssl                                # tests: the throwaway cluster's TLS certificates
  iproute2                               # tests: two hosts as network namespaces joined by veth pairs
  libpng-dev                             # PNG-compressed icon images
  libcli11-dev nlohmann-json3-dev libfmt-dev  # the feroq command-line tool
  locales                                # tests: C.UTF-8, which the case-folding table is checked against
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix  # Windows cross builds (scripts/windows.sh)
  wine wine64                            # the Windows test programs, run headless
  wine32:i386                            # the 32-bit Windows test programs (Wine's 32-bit half)
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# wine32 is a package of the i386 architecture: the machine must take it.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
