#!/usr/bin/env bash
# Installs what is missing, builds both programs, and starts mendra (it needs a display).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
# The same folder and options as the tests' release build, so neither undoes the other.
BUILD_TARGETS="mendra vrel" scripts/build.sh release -DCMAKE_BUILD_TYPE=Release
exec build/release/bin/mendra "$@"
