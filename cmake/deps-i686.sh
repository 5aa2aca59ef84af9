#!/usr/bin/env bash
# Builds the 32-bit x86 GoogleTest/GoogleMock that the m32 preset links against, from the
# sources Debian's googletest package ships, into build/deps-i686 (once; later runs
# reuse it). Needs g++-multilib; the tests then run under qemu-i386 (qemu-user).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix="$root/build/deps-i686"
src=/usr/src/googletest

if [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  exit 0
fi
if [ ! -f "$src/CMakeLists.txt" ]; then
  echo "deps-i686: $src is missing; install the googletest package" >&2
  exit 1
fi
cmake -S "$src" -B "$root/build/deps-i686-build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-linux.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DCMAKE_INSTALL_LIBDIR=lib
cmake --build "$root/build/deps-i686-build"
cmake --install "$root/build/deps-i686-build"
