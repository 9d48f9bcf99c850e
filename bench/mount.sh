#!/usr/bin/env bash
# mount.sh - reading an image through qivmount, beside unpacking it, beside a compressed squashfs of it
# mounted with squashfuse_ll (gzip, 8 KiB blocks: the same frame size and inflater family), and beside
# the reader library
# usage: bench/mount.sh [SIZE_MIB] [RUNS]   (defaults 256 and 5); prints medians and the ratios beside their goals
set -euo pipefail
source "$(dirname "$0")/common.sh"
size_mib=${1:-256}
runs=${2:-5}

build_bench qivpak qivmount reader_bench
bin=$PWD/build/bench

mount_scratch
mkdir -p "$work/src" "$work/sq" "$mnt"
bash bench/make_image.sh "$work/disc.iso" "$size_mib"
"$bin/qivpak" "$work/disc.iso" "$work/src/disc.qiv" >/dev/null
mksquashfs "$work/disc.iso" "$work/sq/disc.sqfs" -comp gzip -b 8192 -noappend -quiet >/dev/null
bytes=$(stat -c %s "$work/disc.iso")
cores=$(nproc)

# Each mount is fresh, so the kernel's page cache holds nothing of the image.
mount_it() { "$bin/qivmount" "$work/src" "$mnt"; }
mount_squashfs() { squashfuse_ll "$work/sq/disc.sqfs" "$mnt"; }
unmount_it() {
    fusermount3 -u "$mnt"
    while pgrep -f "(qivmount $work/src|squashfuse_ll $work/sq)" >/dev/null; do sleep 0.05; done
}
daemon_cpu() {  # CPU seconds the mounted daemon has used so far
    awk '{ printf "%.2f\n", ($14 + $15) / 100 }' "/proc/$(pgrep -f "$1" | head -1)/stat"
}
seconds() {  # seconds COMMAND...: wall time of one run; its CPU seconds go to $work/cpu
    /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >/dev/null 2>&1
    awk '{ print $2 + $3 > "'"$work/cpu"'"; print $1 }' "$work/time"
}

unpack=() through=() unpack_cpu=() daemon=() squash=() squash_cpu=()
for ((r = 0; r < runs; r++)); do
    unpack+=("$(seconds "$bin/qivpak" -d "$work/src/disc.qiv" /dev/null)")
    unpack_cpu+=("$(cat "$work/cpu")")
    mount_it
    through+=("$(seconds cat "$mnt/disc.iso")")
    daemon+=("$(daemon_cpu "qivmount $work/src")")
    cmp -s "$work/disc.iso" "$mnt/disc.iso" || { echo "the mounted image differs" >&2; exit 1; }
    unmount_it
    mount_squashfs
    squash+=("$(seconds cat "$mnt/disc.iso")")
    squash_cpu+=("$(daemon_cpu "squashfuse_ll $work/sq")")
    unmount_it
done
u=$(printf '%s\n' "${unpack[@]}" | median)
m=$(printf '%s\n' "${through[@]}" | median)
s=$(printf '%s\n' "${squash[@]}" | median)
uc=$(printf '%s\n' "${unpack_cpu[@]}" | median)
dc=$(printf '%s\n' "${daemon[@]}" | median)
sc=$(printf '%s\n' "${squash_cpu[@]}" | median)

echo "image: $size_mib MiB disc-image-like ISO ($bytes bytes), $cores cores, $(lscpu | sed -n 's/^Model name: *//p')"
echo "cold sequential reads (a fresh mount each run), medians of $runs:"
awk -v b="$bytes" -v u="$u" -v m="$m" -v s="$s" -v c="$cores" -v uc="$uc" -v dc="$dc" -v sc="$sc" 'BEGIN {
    printf "  %-46s %8.1f MB/s  %6.2f s  %5.2f CPU s\n", "qivpak -d container /dev/null, " c " threads", b / 1e6 / u, u, uc
    printf "  %-46s %8.1f MB/s  %6.2f s  %5.2f CPU s (qivmount)\n", "cat of the image mounted by qivmount", b / 1e6 / m, m, dc
    printf "  %-46s %8.1f MB/s  %6.2f s  %5.2f CPU s (squashfuse_ll)\n", "cat of the image in a squashfs (gzip, 8 KiB)", b / 1e6 / s, s, sc
    printf "  %-46s %8.2f   (goal: at least 0.7)\n", "qivmount / qivpak -d throughput", u / m
    printf "  %-46s %8.2f   (goal: at least 1.5)\n", "qivmount / squashfuse_ll throughput", s / m
}'
echo
echo "random 4 KiB reads: the library, then through the mount (O_DIRECT, every read reaches qivmount):"
"$bin/reader_bench" "$work/src/disc.qiv" 3 1
"$bin/reader_bench" "$work/src/disc.qiv" 3 "$cores"
mount_it
"$bin/reader_bench" --file "$mnt/disc.iso" 3 1
"$bin/reader_bench" --file "$mnt/disc.iso" 3 "$cores"
echo "qivmount peak memory: $(grep VmHWM "/proc/$(pgrep -f "qivmount $work/src" | head -1)/status" | awk '{ printf "%.1f MiB", $2 / 1024 }')"
unmount_it
