#!/usr/bin/env bash
# Compares the dynamic symbols that libtovlib exports with the committed list, so an
# export gained or lost by accident fails the build. After a deliberate change (with a
# version bump once released), refresh the list with: cmake/abi-check.sh build/dev --update
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/dev}
list="$root/cmake/libtovlib.so.1.symbols"
lib=$(ls "$build"/libtovlib.so.1.* | head -n 1)
actual=$(nm -D --defined-only -C "$lib" | awk '{ $1 = ""; $2 = ""; sub(/^  /, ""); print }' \
  | grep -E '(^|[^A-Za-z])tov' | LC_ALL=C sort -u)
if [ "${2:-}" = "--update" ]; then
  printf '%s\n' "$actual" > "$list"
  echo "abi: wrote $(wc -l < "$list") symbols to $list"
  exit 0
fi
if ! diff -u "$list" <(printf '%s\n' "$actual"); then
  echo "abi: the exported symbols of $lib differ from $list (lines - lost, + gained)" >&2
  exit 1
fi
echo "abi: $(wc -l < "$list") exported symbols as committed"
