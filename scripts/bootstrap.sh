#!/usr/bin/env bash
# Installs the Debian packages the project needs, and only those that are missing.
# Safe to run again: when everything is there it changes nothing.
# scripts/bootstrap.sh --package also installs the tools that build and check the Debian package.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgtest-dev
  libfuse3-dev fuse3
  gddrescue
  e2fsprogs squashfs-tools mount
  fonts-liberation2 xvfb xauth
  xdotool imagemagick
  locales
)
for option in "$@"; do
  case $option in
    --package)
      packages+=(dpkg-dev debhelper lintian desktop-file-utils appstream man-db)
      ;;
    *)
      echo "usage: scripts/bootstrap.sh [--package]" >&2
      exit 2
      ;;
  esac
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The tests check number text in a locale whose decimal separator is a comma.
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  echo "bootstrap: generating the de_DE.UTF-8 locale"
  "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
