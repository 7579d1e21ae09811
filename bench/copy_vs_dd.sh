#!/usr/bin/env bash
# Copies healthy, page-cached files with vrel and with dd (same block size; conv=noerror,sync,fsync
# because vrel flushes the target before it reports "Finished"), alternating the two, and prints
# the time ratio vrel/dd. Then: variable speed in MB/s, store writes per copy, the cost of one
# store write, and vrel's peak memory.
#
#   bench/copy_vs_dd.sh [BUILD_DIR] [WORK_DIR] [ROUNDS]
#
# BUILD_DIR defaults to build/release (built by scripts/build.sh release); WORK_DIR, where the
# files go (about 2.2 GiB), defaults to a new folder under /tmp. Takes a few minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
work=${2:-$(mktemp -d /tmp/vrel-bench-XXXXXX)}
rounds=${3:-3}
vrel=$build/bin/vrel
store_bench=$build/bin/store_write_bench
for tool in "$vrel" "$store_bench"; do
  [ -x "$tool" ] || { echo "missing $tool: run scripts/build.sh release first" >&2; exit 1; }
done
command -v strace >/dev/null || { echo "strace is needed to count store writes" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time (package time) is needed for peak memory" >&2; exit 1; }

export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME"
trap 'rm -rf "$work"' EXIT

now_ns() { date +%s%N; }

make_source() {  # name, bytes
  [ -f "$work/$1" ] || head -c "$2" /dev/urandom >"$work/$1"
  cat "$work/$1" >/dev/null  # into the page cache
}

# Prints "best_vrel_s best_dd_s": the fastest of `rounds` alternating runs of each.
compare() {  # source, block size
  local src=$work/$1 bs=$2 best_v="" best_d="" t0 t1 v d
  for ((i = 0; i < rounds; i++)); do
    rm -f "$work/out.vrel" "$work/out.dd"
    t0=$(now_ns); "$vrel" "$src;$work/out.vrel;$bs"; t1=$(now_ns); v=$((t1 - t0))
    cmp -s "$src" "$work/out.vrel" || { echo "vrel's copy of $1 differs from the source" >&2; exit 1; }
    t0=$(now_ns); dd if="$src" of="$work/out.dd" bs="$bs" conv=noerror,sync,fsync status=none
    t1=$(now_ns); d=$((t1 - t0))
    if [ -z "$best_v" ] || [ "$v" -lt "$best_v" ]; then best_v=$v; fi
    if [ -z "$best_d" ] || [ "$d" -lt "$best_d" ]; then best_d=$d; fi
  done
  rm -f "$work/out.vrel" "$work/out.dd"
  echo "$best_v $best_d"
}

report() {  # label, target, source, block size
  read -r v d < <(compare "$3" "$4")
  awk -v l="$1" -v t="$2" -v v="$v" -v d="$d" 'BEGIN {
    r = v / d
    printf "%-28s vrel %8.3f s   dd %8.3f s   vrel/dd %.3f  (target <= %s) %s\n",
           l, v / 1e9, d / 1e9, r, t, (r <= t ? "ok" : "OVER")
  }'
}

echo "machine: $(nproc) cores, $(uname -r); files in $work ($(stat -f -c %T "$work"))"
make_source src1g $((1 << 30))
make_source src64m $((64 << 20))
make_source src16m $((16 << 20))
make_source src4m $((4 << 20))

report "1 GiB at 10 MiB blocks" 1.10 src1g $((10 << 20))
report "64 MiB at 100-byte blocks" 1.25 src64m 100
report "4 MiB at 1-byte blocks" 1.25 src4m 1

# Variable speed: blocks 10 bytes apart, each up to 10240 bytes long.
best=""
for ((i = 0; i < rounds; i++)); do
  rm -f "$work/out.var"
  t0=$(now_ns); "$vrel" "$work/src16m;$work/out.var;0"; t1=$(now_ns)
  cmp -s "$work/src16m" "$work/out.var" || { echo "variable-speed copy differs" >&2; exit 1; }
  if [ -z "$best" ] || [ $((t1 - t0)) -lt "$best" ]; then best=$((t1 - t0)); fi
done
awk -v ns="$best" 'BEGIN { printf "%-28s %8.3f s   %.1f MB/s\n", "16 MiB in variable speed", ns / 1e9, 16 * 1048576 / (ns / 1e9) / 1e6 }'

# Store writes: every write replaces the file by an exchange (or a rename where unsupported).
for run in "src4m 1" "src64m 100" "src16m 0"; do
  set -- $run
  rm -f "$work/out.count"
  writes=$(strace -f -qq --seccomp-bpf -e trace=renameat2,rename -o /dev/stdout "$vrel" "$work/$1;$work/out.count;$2" | grep -c -E '^[0-9 ]*(renameat2|rename)\(')
  # Status is written twice ("Starting...", "Finished"); the rest are Percent.
  printf "%-28s %d store writes: %d of Percent (target <= 10001) and 2 of Status\n" \
    "$1 at block size $2" "$writes" $((writes - 2))
done

"$store_bench" "$work"

rm -f "$work/out.mem"
kb=$(/usr/bin/time -f %M "$vrel" "$work/src1g;$work/out.mem;$((10 << 20))" 2>&1 >/dev/null | tail -n 1)
awk -v kb="$kb" 'BEGIN { limit = 2 * 10 + 16; mib = kb / 1024;
  printf "%-28s %.1f MiB peak (target <= %d MiB) %s\n", "peak memory, 10 MiB blocks", mib, limit, (mib <= limit ? "ok" : "OVER") }'
