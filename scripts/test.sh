#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the normal build, the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer, and each
# libFuzzer target for a bounded time. Exits non-zero on any failure.
#   --quick   only the normal build and its tests
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
quick=0
[ "${1:-}" = "--quick" ] && quick=1
fuzz_seconds="${VORN_FUZZ_SECONDS:-60}"
jobs="$(nproc)"

bash "$top/scripts/setup.sh"

echo "== normal build and tests"
bash "$top/scripts/build.sh" "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd "$top/build" && ctest --output-on-failure --parallel "$jobs" --timeout 300)

[ "$quick" = 1 ] && exit 0

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build and tests"
bash "$top/scripts/build.sh" "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVORN_SANITIZE=ON -DVORN_BENCH=OFF
(cd "$top/build-asan" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure --parallel "$jobs" --timeout 600)

echo "== libFuzzer targets (${fuzz_seconds}s each)"
CC=clang-16 CXX=clang++-16 bash "$top/scripts/build.sh" "$top/build-fuzz" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORN_FUZZ=ON -DVORN_BENCH=OFF
bash "$top/scripts/fuzz.sh" "$top/build-fuzz/fuzz-bin" "$fuzz_seconds"
