#!/usr/bin/env bash
# vrel copies healthy regions at the speed of the medium whatever the block size. Four rounds:
#
# 1. vrel against `dd bs=1M conv=fsync` (the same durability as vrel's flush before "Finished")
#    on a healthy, page-cached 2 GiB source at 1 B, 100 B, 10 KiB, variable speed and 10 MiB.
#    The disk's write speed varies a lot from run to run, so runs go in pairs (the order
#    alternating) and the figure is the median of the pairs' ratios. Before each run: `sync`,
#    then SETTLE seconds (default 6) for the disk to finish what earlier runs left it; without
#    that pause a run right after another one here often takes a third of the steady time or
#    three times as long, depending on what the host still caches. Target: at most 1.5.
# 2. vrel-reference, the block-by-block loop, at the same sizes; the slow ones on a smaller file,
#    their time scaled to 2 GiB.
# 3. The damaged-media fixture with slow reads around scattered bad ranges: time and read
#    requests (all, and failed) of vrel against vrel-reference, and the two targets compared.
# 4. vrel's peak memory at each block size. Target: at most twice the block size plus 32 MiB.
#
#   bench/chunked_copy.sh [BUILD_DIR] [WORK_DIR] [PAIRS]
#
# BUILD_DIR defaults to build/release (scripts/build.sh release -DCMAKE_BUILD_TYPE=Release);
# WORK_DIR, where the files go (about 4.3 GiB), to a new folder under /tmp; PAIRS to 5. Round 1
# is repeated into /dev/shm where that is a tmpfs with 2.5 GiB free. Round 3 needs /dev/fuse and
# fusermount3 and is skipped without them. Takes about twenty minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
work=${2:-$(mktemp -d /tmp/vrel-chunked-XXXXXX)}
pairs=${3:-5}
settle=${SETTLE:-6}
vrel=$build/bin/vrel
reference=$build/bin/vrel-reference
damagedfs=$build/bin/damagedfs
for tool in "$vrel" "$reference"; do
  [ -x "$tool" ] || { echo "missing $tool: run scripts/build.sh release first" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "/usr/bin/time (package time) is needed for peak memory" >&2; exit 1; }

export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME"
mount_point=$work/mnt
fs_pid=""
cleanup() {
  if [ -n "$fs_pid" ]; then
    fusermount3 -u "$mount_point" 2>/dev/null || true
    wait "$fs_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

now_ns() { date +%s%N; }
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }

make_source() {  # name, bytes
  [ -f "$work/$1" ] || head -c "$2" /dev/urandom >"$work/$1"
  cat "$work/$1" >/dev/null  # into the page cache
}

# Prints the nanoseconds one run of the command takes, after a sync and `pause` seconds.
pause=0
timed() {
  local t0 t1
  sync
  sleep "$pause"
  t0=$(now_ns)
  "$@"
  t1=$(now_ns)
  echo $((t1 - t0))
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

label() { case $1 in 0) echo "variable speed" ;; 1) echo "1 B" ;; 100) echo "100 B" ;;
  10240) echo "10 KiB" ;; 10485760) echo "10 MiB" ;; *) echo "$1 B" ;; esac; }

echo "machine: $(nproc) cores, $(uname -r); files in $work ($(stat -f -c %T "$work"))"
make_source src2g $((2 << 30))
src=$work/src2g
out=$work/out

echo
modes=(1 100 10240 0 10485760)

# Pairs of runs of vrel and dd into the folder $1, the modes taken in turn in each round so that
# a slow spell of the disk falls on all of them alike. Prints each pair and the median ratio per
# mode, and keeps vrel's best time per mode in vrel_ns.
declare -A vrel_ns ratios
compare() {  # target folder
  local out=$1/out bs i v d r
  ratios=()
  for ((i = 0; i < pairs; i++)); do
    for bs in "${modes[@]}"; do
      # The order within a pair alternates from round to round: the second run of a pair may
      # pay for the first one's writes still on their way to the disk.
      if ((i % 2 == 1)); then d=$(timed dd if="$src" of="$out" bs=1M conv=fsync status=none); fi
      rm -f "$out"
      v=$(timed "$vrel" "$src;$out;$bs")
      if ((i == 0)); then cmp -s "$src" "$out" || { echo "vrel's copy at $bs differs" >&2; exit 1; }; fi
      rm -f "$out"
      if ((i % 2 == 0)); then d=$(timed dd if="$src" of="$out" bs=1M conv=fsync status=none); fi
      rm -f "$out"
      ratios[$bs]+="$(awk -v v="$v" -v d="$d" 'BEGIN { print v / d }') "
      if [ -z "${vrel_ns[$bs]:-}" ] || [ "$v" -lt "${vrel_ns[$bs]}" ]; then vrel_ns[$bs]=$v; fi
      echo "  round $((i + 1)), $(label "$bs"): vrel $(seconds "$v") s, dd $(seconds "$d") s"
    done
  done
  for bs in "${modes[@]}"; do
    r=$(printf '%s\n' ${ratios[$bs]} | median)
    awk -v l="$(label "$bs")" -v r="$r" 'BEGIN {
      printf "%-16s vrel/dd median %.2f (target <= 1.5, aim 1.2) %s\n", l, r, (r <= 1.5 ? "ok" : "OVER") }'
  done
}

echo
echo "== 1. vrel against dd bs=1M conv=fsync, 2 GiB, $pairs pairs each =="
# The first copy after the source was written runs slow whatever copies: one untimed warm-up.
dd if="$src" of="$out" bs=1M conv=fsync status=none
rm -f "$out"
pause=$settle
compare "$work"
pause=0
shm_free=$(df --output=avail -B1 /dev/shm 2>/dev/null | tail -n 1 || echo 0)
if [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] && [ "$shm_free" -gt $((5 << 29)) ]; then
  echo "-- the same into tmpfs (/dev/shm), where the disk plays no part: vrel's own costs --"
  shm=$(mktemp -d /dev/shm/vrel-chunked-XXXXXX)
  declare -A disk_ns
  for bs in "${modes[@]}"; do disk_ns[$bs]=${vrel_ns[$bs]}; done
  vrel_ns=()
  compare "$shm"
  rm -rf "$shm"
  for bs in "${modes[@]}"; do vrel_ns[$bs]=${disk_ns[$bs]}; done
fi

echo
echo "== 2. the block-by-block loop (vrel-reference), scaled to 2 GiB =="
make_source src4m $((4 << 20))
make_source src16m $((16 << 20))
make_source src256m $((256 << 20))
for run in "1 src4m 4194304" "100 src256m 268435456" "10240 src2g 2147483648" "0 src16m 16777216" \
  "10485760 src2g 2147483648"; do
  set -- $run
  rm -f "$out"
  ns=$(timed "$reference" "$work/$2;$out;$1")
  cmp -s "$work/$2" "$out" || { echo "vrel-reference's copy at $1 differs" >&2; exit 1; }
  rm -f "$out"
  awk -v l="$(label "$1")" -v ns="$ns" -v bytes="$3" -v fast="${vrel_ns[$1]}" 'BEGIN {
    scaled = ns * 2147483648 / bytes
    printf "%-16s %8.3f s on %5d MiB, %9.1f s for 2 GiB; vrel is %.1f times as fast\n",
           l, ns / 1e9, bytes / 1048576, scaled / 1e9, scaled / fast }'
done

echo
echo "== 3. damaged media with slow reads: vrel against vrel-reference =="
if [ ! -x "$damagedfs" ] || [ ! -w /dev/fuse ] || ! command -v fusermount3 >/dev/null; then
  echo "skipped: needs $damagedfs, /dev/fuse and fusermount3"
else
  # Scattered bad ranges; reads that touch 16 KiB around them wait 0.5 ms, as a drive retries.
  damaged() {  # image bytes, block size, bad ranges
    local bytes=$1 bs=$2 count=$3 bad slow prog n0 n1 f0 f1 ns
    rm -f "$work/image"
    head -c "$bytes" "$work/src2g" >"$work/image"
    bad=$(awk -v n="$count" -v size="$bytes" 'BEGIN { srand(7); for (i = 0; i < n; i++) {
      s = int(rand() * (size - 9000)); l = 1 + int(rand() * 8192); printf "%s%d:%d", (i ? "," : ""), s, l } }')
    slow=$(echo "$bad" | tr ',' '\n' | awk -F: '{ s = $1 - 16384; if (s < 0) s = 0;
      printf "%s%d:%d", (NR > 1 ? "," : ""), s, $2 + 32768 }')
    mkdir -p "$mount_point"
    : >"$work/trace"
    "$damagedfs" --image "$work/image" --bad "$bad" --slow "$slow" --slow-usec 500 \
      --trace "$work/trace" --parent $$ "$mount_point" >"$work/damagedfs.log" 2>&1 &
    fs_pid=$!
    for ((i = 0; i < 500; i++)); do
      [ "$(stat -c %s "$mount_point/image" 2>/dev/null || echo 0)" = "$bytes" ] && break
      sleep 0.02
    done
    for prog in "$reference" "$vrel"; do
      rm -f "$work/out.$(basename "$prog")"
      n0=$(wc -l <"$work/trace")
      f0=$(awk '$3 < 0' "$work/trace" | wc -l)
      ns=$(timed "$prog" "$mount_point/image;$work/out.$(basename "$prog");$bs")
      n1=$(wc -l <"$work/trace")
      f1=$(awk '$3 < 0' "$work/trace" | wc -l)
      printf "  %-16s %-15s %8s s  %8d read requests, %6d failed\n" "$(label "$bs")" \
        "$(basename "$prog")" "$(seconds "$ns")" $((n1 - n0)) $((f1 - f0))
    done
    cmp -s "$work/out.vrel" "$work/out.vrel-reference" && echo "  targets identical" ||
      { echo "vrel's target differs from vrel-reference's" >&2; exit 1; }
    fusermount3 -u "$mount_point"
    wait "$fs_pid" || true
    fs_pid=""
  }
  echo "16 MiB, 24 bad ranges of up to 8 KiB:"
  damaged $((16 << 20)) 100 24
  damaged $((16 << 20)) 4096 24
  echo "1 MiB, 3 bad ranges of up to 8 KiB:"
  damaged $((1 << 20)) 0 3
fi

echo
echo "== 4. vrel's peak memory, 2 GiB =="
for bs in 1 100 0 10485760; do
  rm -f "$out"
  kb=$(/usr/bin/time -f %M "$vrel" "$src;$out;$bs" 2>&1 >/dev/null | tail -n 1)
  awk -v l="$(label "$bs")" -v kb="$kb" -v bs="$bs" 'BEGIN { limit = 2 * bs / 1048576 + 32; mib = kb / 1024;
    printf "%-16s %6.1f MiB peak (target <= %.1f MiB) %s\n", l, mib, limit, (mib <= limit ? "ok" : "OVER") }'
done
rm -f "$out"
