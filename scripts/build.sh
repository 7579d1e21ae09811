#!/usr/bin/env bash
# Configures and builds one build folder: scripts/build.sh NAME [cmake options...]
# The folder is build/NAME; the programs land in build/NAME/bin.
set -euo pipefail
cd "$(dirname "$0")/.."
name=$1
shift
cmake -S . -B "build/$name" -G Ninja -DMENDRA_WERROR=ON "$@" >/dev/null
cmake --build "build/$name" -j "$(nproc)"
