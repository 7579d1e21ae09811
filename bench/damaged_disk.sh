#!/usr/bin/env bash
# vrel on a real file system on a damaged disk: an ext4 image (4 KiB blocks) holding a 24 MiB
# file with 79 bad 512-byte sectors under it (spots of 1, 11, 64, 1 and 1 sectors and the file's
# last sector), served by damagedfs with a delay on every failing request (a drive retrying a
# bad spot), attached read-only as a loop device and mounted. Then an uncompressed squashfs image
# (4 KiB blocks, no direct I/O) holding an 8 MiB file with two bad sectors.
#
# For vrel, vrel-reference (the block-by-block loop) and `ddrescue -d -b512` (the direct sector
# reader of Debian's gddrescue): time, failing requests that reached the medium, and bytes lost
# (the file's bytes are never 0, so a lost byte is a zero in the copy; ddrescue leaves an
# unreadable tail of the file out of its copy, which this does not count). Target: vrel at 1-byte
# blocks within 1.5 times ddrescue's time.
#
#   bench/damaged_disk.sh [BUILD_DIR] [WORK_DIR] [FAIL_USEC]
#
# BUILD_DIR defaults to build/release; WORK_DIR to a new folder under /tmp; FAIL_USEC (the delay
# of a failing request) to 20000. Needs root, /dev/fuse, loop devices, mkfs.ext4 (e2fsprogs),
# mksquashfs (squashfs-tools) and ddrescue (gddrescue).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
work=${2:-$(mktemp -d /tmp/vrel-damaged-XXXXXX)}
fail_usec=${3:-20000}
for tool in mkfs.ext4 mksquashfs ddrescue losetup python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME" "$work/content" "$work/media" "$work/fs"

fs_pid="" loop=""
detach() {
  mountpoint -q "$work/fs" && umount "$work/fs"
  if [ -n "$loop" ]; then losetup -d "$loop"; loop=""; fi
  if [ -n "$fs_pid" ]; then kill "$fs_pid"; wait "$fs_pid" || true; fs_pid=""; fi
}
trap 'detach; rm -rf "$work"' EXIT

# The file's bytes: random, with no zero byte.
make_file() {  # bytes
  python3 -c "import os,sys; sys.stdout.buffer.write(bytes(b or 1 for b in os.urandom($1)))" \
    >"$work/content/file"
}

# Where the file's data starts in the image (the file systems here keep it in one piece).
data_start() {  # image
  python3 -c "import sys; i=open('$1','rb').read(); f=open('$work/content/file','rb').read(4096)
print(i.find(f))"
}

# Serves the image with the bad ranges, attaches it and mounts it.
attach() {  # image, bad ranges, file system type
  : >"$work/trace"
  "$build/bin/damagedfs" --image "$1" --bad "$2" --fail-usec "$fail_usec" \
    --trace "$work/trace" "$work/media" &
  fs_pid=$!
  for _ in $(seq 100); do [ -e "$work/media/image" ] && break; sleep 0.05; done
  loop=$(losetup --find --show --read-only "$work/media/image")
  mount -o ro -t "$3" "$loop" "$work/fs"
}

run() {  # label, source, command...
  local label=$1 source=$2
  shift 2
  rm -f "$work/out" "$work/map"
  python3 -c "import os; os.posix_fadvise(os.open('$source', os.O_RDONLY), 0, 0, 4)"  # DONTNEED
  local before start end
  before=$(awk '$3 < 0' "$work/trace" | wc -l)
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  printf '%-26s %8.2f s %6d failing requests %9d bytes lost\n' "$label" \
    "$(awk -v ns=$((end - start)) 'BEGIN { print ns / 1e9 }')" \
    $(($(awk '$3 < 0' "$work/trace" | wc -l) - before)) \
    "$(python3 -c "import sys; print(open('$work/out','rb').read().count(0))")"
}

compare() {  # source, ddrescue's options
  for block in 1 512 0; do
    run "vrel $block" "$1" "$build/bin/vrel" "$1;$work/out;$block"
  done
  for block in 512 0 1; do
    run "vrel-reference $block" "$1" "$build/bin/vrel-reference" "$1;$work/out;$block"
  done
  run "ddrescue $2" "$1" ddrescue -q $2 "$1" "$work/out" "$work/map"
}

echo "ext4, 24 MiB file, 79 bad sectors, ${fail_usec} us per failing request"
make_file $((24 << 20))
mkfs.ext4 -q -F -b 4096 -d "$work/content" "$work/ext4" 40M
start=$(data_start "$work/ext4")
bad=""
for spot in 1000:1 5000:11 20000:64 30001:1 40000:1 49151:1; do
  bad="$bad,$((start + ${spot%:*} * 512)):$((${spot#*:} * 512))"
done
attach "$work/ext4" "${bad#,}" ext4
compare "$work/fs/file" "-d -b512"
detach

echo "squashfs (no direct I/O), 8 MiB file, 2 bad sectors"
make_file $((8 << 20))
mksquashfs "$work/content" "$work/sq" -noI -noD -noF -b 4096 -quiet -no-progress
start=$(data_start "$work/sq")
bad=$(((start + 1000000) / 512 * 512)):512,$(((start + 5000000) / 512 * 512)):512
attach "$work/sq" "$bad" squashfs
compare "$work/fs/file" "-b4096"  # squashfs refuses direct I/O
detach
