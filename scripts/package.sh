#!/usr/bin/env bash
# Builds the Debian package: scripts/package.sh [OUTDIR]
# Installs what it needs through the bootstrap script, builds a copy of the sources (without
# build/ and .git) in build/deb with Debian's own tools (dpkg-buildpackage, debhelper), and leaves
# mendra_<version>_<arch>.deb in OUTDIR (build/ by default). The copy always lies at the same
# place, so ccache, where present, finds the compilations of the last package build.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build}")
scripts/bootstrap.sh --package

version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg --print-architecture)
work=$PWD/build/deb
case $out/ in "$work"/*) echo "package: OUTDIR must lie outside $work" >&2; exit 2 ;; esac
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
source_copy="$work/mendra-$version"
mkdir "$source_copy"
tar -C . --exclude=./build --exclude=./.git --exclude='./obj-*' -cf - . | tar -C "$source_copy" -xf -

# No tests (CI runs them in its own builds) and no debug symbol package.
(
  cd "$source_copy"
  DEB_BUILD_OPTIONS="nocheck noautodbgsym ${DEB_BUILD_OPTIONS:-}" \
    dpkg-buildpackage --build=binary --no-sign -j"$(nproc)"
)

mkdir -p "$out"
cp "$work/mendra_${version}_${arch}.deb" "$out/"
echo "package: $out/mendra_${version}_${arch}.deb"
