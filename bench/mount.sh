#!/usr/bin/env bash
# mount.sh - reading an image through qivmount, beside unpacking it and beside the reader library
# usage: bench/mount.sh [SIZE_MIB] [RUNS]   (defaults 256 and 5); prints medians
set -euo pipefail
source "$(dirname "$0")/common.sh"
size_mib=${1:-256}
runs=${2:-5}

build_bench qivpak qivmount reader_bench
bin=$PWD/build/bench

work=$(mktemp -d)
mnt=$work/mnt
cleanup() {
    if mountpoint -q "$mnt"; then fusermount3 -u "$mnt"; fi
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/src" "$mnt"
bash bench/make_image.sh "$work/disc.iso" "$size_mib"
"$bin/qivpak" "$work/disc.iso" "$work/src/disc.qiv" >/dev/null
bytes=$(stat -c %s "$work/disc.iso")
cores=$(nproc)

# Each mount is fresh, so the kernel's page cache holds nothing of the image.
mount_it() { "$bin/qivmount" "$work/src" "$mnt"; }
unmount_it() { fusermount3 -u "$mnt"; while pgrep -f "qivmount $work/src" >/dev/null; do sleep 0.05; done; }
daemon_cpu() {  # CPU seconds the mounted daemon has used so far
    awk '{ printf "%.2f\n", ($14 + $15) / 100 }' "/proc/$(pgrep -f "qivmount $work/src" | head -1)/stat"
}
seconds() {  # seconds COMMAND...: wall time of one run; its CPU seconds go to $work/cpu
    /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >/dev/null 2>&1
    awk '{ print $2 + $3 > "'"$work/cpu"'"; print $1 }' "$work/time"
}

unpack=() through=() unpack_cpu=() daemon=()
for ((r = 0; r < runs; r++)); do
    unpack+=("$(seconds "$bin/qivpak" -d "$work/src/disc.qiv" /dev/null)")
    unpack_cpu+=("$(cat "$work/cpu")")
    mount_it
    through+=("$(seconds cat "$mnt/disc.iso")")
    daemon+=("$(daemon_cpu)")
    cmp -s "$work/disc.iso" "$mnt/disc.iso" || { echo "the mounted image differs" >&2; exit 1; }
    unmount_it
done
u=$(printf '%s\n' "${unpack[@]}" | median)
m=$(printf '%s\n' "${through[@]}" | median)
uc=$(printf '%s\n' "${unpack_cpu[@]}" | median)
dc=$(printf '%s\n' "${daemon[@]}" | median)

echo "image: $size_mib MiB disc-image-like ISO ($bytes bytes), $cores cores, $(lscpu | sed -n 's/^Model name: *//p')"
awk -v b="$bytes" -v u="$u" -v m="$m" -v c="$cores" -v uc="$uc" -v dc="$dc" 'BEGIN {
    printf "%-44s %8.1f MB/s  %6.2f s  %5.2f CPU s\n", "qivpak -d container /dev/null, " c " threads", b / 1e6 / u, u, uc
    printf "%-44s %8.1f MB/s  %6.2f s  %5.2f CPU s (qivmount)\n", "cat mounted image > /dev/null", b / 1e6 / m, m, dc
    printf "%-44s %8.2f\n", "mount / unpack throughput", u / m
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
