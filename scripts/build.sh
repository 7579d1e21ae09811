#!/usr/bin/env bash
# Configures and builds one build folder: scripts/build.sh NAME [cmake options...]
# The folder is build/NAME; the programs land in build/NAME/bin. BUILD_TARGETS, when set, names
# the targets to build (all of them otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."
name=$1
shift
cmake -S . -B "build/$name" -G Ninja -DMENDRA_WERROR=ON "$@" >/dev/null
targets=()
for t in ${BUILD_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "build/$name" -j "$(nproc)" "${targets[@]}"
