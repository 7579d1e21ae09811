#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: in a release build, and in a
# build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

for variant in release asan; do
  echo "== $variant build =="
  if [ "$variant" = release ]; then
    scripts/build.sh release -DCMAKE_BUILD_TYPE=Release
  else
    scripts/build.sh asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMENDRA_SANITIZE=ON
  fi
  echo "== $variant tests =="
  ctest --test-dir "build/$variant" --output-on-failure -j "$(nproc)"
done
