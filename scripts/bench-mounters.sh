#!/usr/bin/env bash
# Our drives against the FUSE mounters a Linux user would pick (squashfuse, fuseiso) on one disc of
# a 300 MB file and 20,000 small files: insert to first byte, first full listing, eject, driver
# memory, program start and data reads. Every figure is the median of RUNS runs in this one run,
# quoted as a ratio against a peer or a limit measured beside it.
#   scripts/bench-mounters.sh [BUILD]     (as root; RUNS=7 by default)
set -euo pipefail
build=${1:-build}
runs=${RUNS:-7}
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$build/system" && pwd)
if [ "$(id -u)" -ne 0 ]; then
  echo "The benchmark runs the services as root and the user side as an account: run it as root." >&2
  exit 1
fi
"$here/install-deps.sh" "$here/bench-packages.txt"
# shellcheck source=scripts/machine-root.sh
source "$here/machine-root.sh"

work=${BENCH_DIR:-/var/tmp/ombrix-bench}
user=ombrix-bench
src=$work/src
mkdir -p "$work"
chmod 755 "$work"
mr_account "$user" >/dev/null
mr_units=5  # four discs in, and the unit that stays empty

now_us() { echo "${EPOCHREALTIME/./}"; }
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ms() { awk -v us="$1" 'BEGIN {printf "%.1f ms", us / 1000}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }
# verdict OURS BASE GOAL: "met" when OURS is within GOAL times BASE.
verdict() { awk -v a="$1" -v b="$2" -v g="$3" 'BEGIN {print (a <= b * g ? "met" : "NOT MET")}'; }
# Times a shell command line in the session's account, from inside its own shell, so that
# starting the account's shell is not counted: prints microseconds, fails when the line fails.
timer='t0=${EPOCHREALTIME/./}; eval "$1" >/dev/null 2>&1 || exit 1; echo $(( ${EPOCHREALTIME/./} - t0 ))'
timed() { in_session 2 "$user" bash -c "$timer" _ "$1"; }
# The peers run as root: where FUSE is root's alone (a container) nobody else can mount, and as
# root they mount without the set-user-id helper, their fastest way.
timed_root() { bash -c "$timer" _ "$1"; }
# A command line that lists a folder's tree from inside it: each listing walks the same short
# relative paths, so the figure is the file system's and not the walk to it (a drive's folder is
# reached through two symbolic links, which ls would resolve again for every name it shows).
list_tree() { echo "cd $1 && ls -lR ."; }
# A command line that waits until the first byte of a file can be read.
first_byte() { echo "until head -c1 $1 >/dev/null 2>&1; do :; done"; }
rss_of() { local p; for p in "$@"; do awk '/^VmRSS:/ {print $2}' "/proc/$p/status"; done | awk '{s += $1} END {print s + 0}'; }

# The disc: built once, kept for the next run.
if [ ! -f "$work/disc.done" ]; then
  echo "== building the disc in $work (once)"
  rm -rf "$src" "$work"/disc*
  mkdir -p "$src"
  head -c 300M /dev/urandom > "$src/big.bin"
  # 20,000 small files of 100 bytes to 8 KiB in 200 folders.
  seq -f "$src/d%03g" 0 199 | xargs mkdir -p
  awk -v src="$src" 'BEGIN {
    line = "0123456789abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789\n"
    for (i = 0; i < 20000; i++) {
      f = sprintf("%s/d%03d/file%05d.txt", src, int(i / 100), i)
      n = (i * 7919) % 100 + 1
      text = ""
      for (k = 0; k < n; k++) text = text line
      printf "%s", text > f
      close(f)
    }
  }'
  xorriso -as mkisofs -J -R -V BENCH_DISC -o "$work/disc.iso" "$src" >/dev/null 2>&1
  "$bin/omxcvt" --quiet --storage plain --output "$work/disc1.om4" "$work/disc.iso"
  # Four images of one disc: each its own header, the sectors (the part file) shared.
  for n in 2 3 4; do
    cp "$work/disc1.om4" "$work/disc$n.om4"
    ln "$work/disc1.000" "$work/disc$n.000"
  done
  mksquashfs "$src" "$work/disc.sqfs" -noappend -quiet >/dev/null
  touch "$work/disc.done"
fi
chmod -R a+rX "$work/src" "$work"/disc*
echo "== the disc: $(du -m "$work/disc.iso" | cut -f1) MB ISO, $(find "$src" -type f | wc -l) files"

# Our services on a fresh machine root; the disc catalogued four times (four images, four units).
mr_prepare "$work/root" "$bin" >/dev/null
trap 'mr_stop_services; grep -o " $work/mnt/[^ ]*" /proc/self/mounts | xargs -r -n1 umount -l' EXIT
"$bin/oxtenv" set OmxStdDriveLetters EFGH  # a drive for each disc
mr_start_services
for n in 1 2 3 4; do "$bin/omxdemo" --add "$work/disc$n.om4" >/dev/null; done
mr_logon 2 "$user" >/dev/null
drives=$mr_root/users/$user/OmbrixDrives
for m in sq1 sq2 sq3 sq4 iso1 iso2 iso3 iso4; do mkdir -p "$work/mnt/$m"; done
unmounter=$(command -v fusermount3 || command -v fusermount)
echo "== driver memory (resident, KiB), from the driver's start"
idle=$(rss_of "$mr_driver")
for d in E F G H; do
  n=$(( $(printf '%d' "'$d") - 68 ))
  timed "$bin/oxtcmd /Q /I $work/disc$n.om4 $d: && $(first_byte "$drives/$d/big.bin")" >/dev/null
done
four=$(rss_of "$mr_driver")
for d in E F G H; do timed "$(list_tree $drives/$d)" >/dev/null; done
listed=$(rss_of "$mr_driver")
for d in E F G H; do timed "$bin/oxtcmd /Q /E $d:" >/dev/null; done
sleep 1.5  # the driver hands memory back on its next poll of the units
ejected=$(rss_of "$mr_driver")
for n in 1 2 3 4; do timed_root "squashfuse $work/disc.sqfs $work/mnt/sq$n" >/dev/null; done
sq_pids=$(pgrep -x squashfuse | tr '\n' ' ')
# shellcheck disable=SC2086
sq_four=$(rss_of $sq_pids)
for n in 1 2 3 4; do timed_root "$(list_tree $work/mnt/sq$n)" >/dev/null; done
# shellcheck disable=SC2086
sq_listed=$(rss_of $sq_pids)
for n in 1 2 3 4; do timed_root "$unmounter -u $work/mnt/sq$n" >/dev/null; done
for n in 1 2 3 4; do timed_root "fuseiso $work/disc.iso $work/mnt/iso$n" >/dev/null; done
iso_pids=$(pgrep -x fuseiso | tr '\n' ' ')
# shellcheck disable=SC2086
iso_four=$(rss_of $iso_pids)
for n in 1 2 3 4; do timed_root "$unmounter -u $work/mnt/iso$n" >/dev/null; done

# A first insert of each kind, so that every measured run finds programs and libraries cached.
timed "$bin/oxtcmd /Q /I $work/disc1.om4 E: && $bin/oxtcmd /Q /E E:" >/dev/null
timed_root "squashfuse $work/disc.sqfs $work/mnt/sq1 && $unmounter -u $work/mnt/sq1" >/dev/null
timed_root "$(list_tree $src)" >/dev/null

declare -a ours_in ours_ls ours_out sq_in sq_ls sq_out iso_in iso_ls iso_out ext4_ls
echo "== $runs runs of insert, first byte, ls -lR, eject"
for ((run = 0; run < runs; run++)); do
  ours_in+=("$(timed "$bin/oxtcmd /Q /I $work/disc1.om4 E: && $(first_byte "$drives/E/big.bin")")")
  ours_ls+=("$(timed "$(list_tree $drives/E)")")
  ours_out+=("$(timed "$bin/oxtcmd /Q /E E:")")
  sq_in+=("$(timed_root "squashfuse $work/disc.sqfs $work/mnt/sq1 && $(first_byte "$work/mnt/sq1/big.bin")")")
  sq_ls+=("$(timed_root "$(list_tree $work/mnt/sq1)")")
  sq_out+=("$(timed_root "$unmounter -u $work/mnt/sq1")")
  iso_in+=("$(timed_root "fuseiso $work/disc.iso $work/mnt/iso1 && $(first_byte "$work/mnt/iso1/big.bin")")")
  iso_ls+=("$(timed_root "$(list_tree $work/mnt/iso1)")")
  iso_out+=("$(timed_root "$unmounter -u $work/mnt/iso1")")
  ext4_ls+=("$(timed_root "$(list_tree $src)")")
  printf '.'
done
echo
oi=$(median "${ours_in[@]}"); ol=$(median "${ours_ls[@]}"); oo=$(median "${ours_out[@]}")
si=$(median "${sq_in[@]}"); sl=$(median "${sq_ls[@]}"); so=$(median "${sq_out[@]}")
ii=$(median "${iso_in[@]}"); il=$(median "${iso_ls[@]}"); io=$(median "${iso_out[@]}")
el=$(median "${ext4_ls[@]}")

echo "== program start (--help), 21 runs each"
declare -a cmd_start pipe_start
for ((run = 0; run < 21; run++)); do
  cmd_start+=("$(timed "$bin/oxtcmd --help")")
  pipe_start+=("$(timed "$bin/oxtpipe --help")")
done
cs=$(median "${cmd_start[@]}"); ps=$(median "${pipe_start[@]}")

echo "== reading the 300 MB file (warm: in the page cache; cold: caches dropped, when allowed)"
timed "$bin/oxtcmd /Q /I $work/disc1.om4 E:" >/dev/null
timed_root "squashfuse $work/disc.sqfs $work/mnt/sq1" >/dev/null
timed_root "fuseiso $work/disc.iso $work/mnt/iso1" >/dev/null
read_of() {  # read_of TIMER FILE: median microseconds of cat FILE, in the page cache
  local all=() k
  "$1" "cat $2" >/dev/null
  for ((k = 0; k < runs; k++)); do all+=("$("$1" "cat $2")"); done
  median "${all[@]}"
}
cold_of() {  # cold_of TIMER FILE: microseconds of cat FILE with caches dropped, 0 when not allowed
  sync
  if echo 3 2>/dev/null > /proc/sys/vm/drop_caches; then "$1" "cat $2"; else echo 0; fi
}
rw_src=$(read_of timed_root "$src/big.bin"); rw_ours=$(read_of timed "$drives/E/big.bin")
rw_sq=$(read_of timed_root "$work/mnt/sq1/big.bin"); rw_iso=$(read_of timed_root "$work/mnt/iso1/big.bin")
rc_ours=$(cold_of timed "$drives/E/big.bin"); rc_sq=$(cold_of timed_root "$work/mnt/sq1/big.bin")
rc_iso=$(cold_of timed_root "$work/mnt/iso1/big.bin")
timed "$bin/oxtcmd /Q /E E:" >/dev/null
timed_root "$unmounter -u $work/mnt/sq1; $unmounter -u $work/mnt/iso1" >/dev/null

echo
echo "== figures (medians of $runs runs)"
printf '%-44s %12s %12s %12s %12s\n' "" ours squashfuse fuseiso limit
printf '%-44s %12s %12s %12s %12s\n' "insert -> first byte" "$(ms "$oi")" "$(ms "$si")" "$(ms "$ii")" "-"
printf '%-44s %12s %12s %12s %12s\n' "eject / unmount" "$(ms "$oo")" "$(ms "$so")" "$(ms "$io")" "-"
printf '%-44s %12s %12s %12s %12s\n' "first ls -lR of 20,000 files (limit: ext4)" "$(ms "$ol")" "$(ms "$sl")" "$(ms "$il")" "$(ms "$el")"
printf '%-44s %9s KiB %8s KiB %8s KiB %12s\n' "resident, 4 discs in (driver / 4 processes)" "$four" "$sq_four" "$iso_four" "-"
printf '%-44s %9s KiB %8s KiB %12s %12s\n' "resident, 4 discs listed" "$listed" "$sq_listed" "" "-"
printf '%-44s %9s KiB %12s %12s %12s\n' "driver resident: idle / after ejecting all" "$idle" "" "" "$ejected KiB"
printf '%-44s %12s %12s %12s %12s\n' "warm read of the 300 MB file (limit: cat)" "$(ms "$rw_ours")" "$(ms "$rw_sq")" "$(ms "$rw_iso")" "$(ms "$rw_src")"
if [ "$rc_ours" != 0 ]; then
  printf '%-44s %12s %12s %12s %12s\n' "cold read of the 300 MB file" "$(ms "$rc_ours")" "$(ms "$rc_sq")" "$(ms "$rc_iso")" "-"
fi
printf '%-44s %12s %12s\n' "oxtcmd --help / oxtpipe --help" "$(ms "$cs")" "$(ms "$ps")"

echo
echo "== ratios and goals"
goal() { printf '%-52s %6sx   goal %-5s %s\n' "$1" "$(ratio "$2" "$3")" "$4x" "$(verdict "$2" "$3" "$4")"; }
goal "insert -> first byte / squashfuse" "$oi" "$si" 1.5
goal "eject / squashfuse unmount" "$oo" "$so" 2
goal "first ls -lR / ext4" "$ol" "$el" 1.5
goal "driver memory, 4 discs in / 4 squashfuse" "$four" "$sq_four" 2
goal "driver memory, 4 discs listed / 4 squashfuse" "$listed" "$sq_listed" 2
goal "driver memory after ejecting all / idle" "$ejected" "$idle" 1.1
goal "oxtcmd start / oxtpipe start" "$cs" "$ps" 2
printf '%-52s %6sx (squashfuse %sx, fuseiso %sx)\n' "warm read / cat of the source" \
  "$(ratio "$rw_ours" "$rw_src")" "$(ratio "$rw_sq" "$rw_src")" "$(ratio "$rw_iso" "$rw_src")"
if [ "$rc_ours" != 0 ]; then
  printf '%-52s %6sx (fuseiso %sx)\n' "cold read / squashfuse" "$(ratio "$rc_ours" "$rc_sq")" \
    "$(ratio "$rc_iso" "$rc_sq")"
fi
