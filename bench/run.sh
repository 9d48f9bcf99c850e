#!/usr/bin/env bash
# run.sh - packing and unpacking throughput, side by side with the in-memory limits and pigz
# usage: bench/run.sh [SIZE_MIB] [RUNS]   (defaults 256 and 3); prints medians in MB/s
set -euo pipefail
source "$(dirname "$0")/common.sh"
size_mib=${1:-256}
runs=${2:-3}

build_bench
qivpak=$PWD/build/bench/qivpak

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
image=$work/disc.iso
bash bench/make_image.sh "$image" "$size_mib"
bytes=$(stat -c %s "$image")
cores=$(nproc)

# median_rate LABEL COMMAND...: runs the command `runs` times, prints the median MB/s and peak RSS.
median_rate() {
    local label=$1; shift
    local times=() rss=0
    for ((r = 0; r < runs; r++)); do
        rm -f "$work/back" "$work/a.qiv" "$work/b.qiv" "$work/c.qiv"  # every run writes a new file
        /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>&1
        read -r secs kb < "$work/time"
        times+=("$secs")
        ((kb > rss)) && rss=$kb
    done
    local median
    median=$(printf '%s\n' "${times[@]}" | median)
    awk -v l="$label" -v b="$bytes" -v s="$median" -v m="$rss" \
        'BEGIN { printf "%-34s %8.1f MB/s  %7.2f s  peak %6.1f MiB\n", l, b / 1e6 / s, s, m / 1024 }'
    echo "$label $median" >> "$work/results"
}

echo "image: $size_mib MiB disc-image-like ISO ($bytes bytes), $cores cores, $(lscpu | sed -n 's/^Model name: *//p')"
./build/bench/frame_bench "$image" -1 "$runs" | awk '{ printf "%-34s %8.1f MB/s (in memory, 1 thread)\n", $1, $2 }'
"$qivpak" "$image" "$work/ref.qiv" >/dev/null
median_rate "pack, 1 thread" env QIVPAK_THREADS=1 "$qivpak" "$image" "$work/a.qiv"
median_rate "pack, $cores threads" "$qivpak" "$image" "$work/a.qiv"
median_rate "pack -a -s -v, 1 thread" env QIVPAK_THREADS=1 "$qivpak" -a -s -v "$image" "$work/b.qiv"
median_rate "pack -a -s -v, $cores threads" "$qivpak" -a -s -v "$image" "$work/b.qiv"
median_rate "unpack, 1 thread" env QIVPAK_THREADS=1 "$qivpak" -d "$work/ref.qiv" "$work/back"
median_rate "unpack, $cores threads" "$qivpak" -d "$work/ref.qiv" "$work/back"
cmp "$image" "$work/back"
median_rate "pack -l6, $cores threads" "$qivpak" -l6 "$image" "$work/c.qiv"
median_rate "pigz -6, $cores threads" pigz -6 -p "$cores" -k -f -c "$image"
median_rate "pigz -9, $cores threads" pigz -9 -p "$cores" -k -f -c "$image"
echo
echo "reader library on the packed image (plain pack), beside the sequential unpack above:"
./build/bench/reader_bench "$work/ref.qiv" 3 1
./build/bench/reader_bench "$work/ref.qiv" 3 "$cores"

echo
echo "ratios of median times:"
t() { grep "^$1 " "$work/results" | awk '{ print $NF }'; }
awk -v p1="$(t "pack, 1 thread")" -v pn="$(t "pack, $cores threads")" \
    -v a="$(t "pack -a -s -v, $cores threads")" -v u1="$(t "unpack, 1 thread")" -v un="$(t "unpack, $cores threads")" \
    -v l6="$(t "pack -l6, $cores threads")" -v z6="$(t "pigz -6, $cores threads")" 'BEGIN {
    printf "pack speed-up (1 -> all threads)      %.2fx\n", p1 / pn
    printf "-a -s -v pack time / plain pack time  %.2f\n", a / pn
    printf "unpack speed-up (1 -> all threads)    %.2fx\n", u1 / un
    printf "pack -l6 throughput / pigz -6         %.2fx\n", z6 / l6
}'
