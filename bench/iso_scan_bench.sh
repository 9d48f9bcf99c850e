#!/usr/bin/env bash
# iso_scan_bench.sh - the media scan against a plain pack, on crafted images whose directories all run on to their
# end (short records: the most per sector; long ones: the most walks over each sector) and on a well-formed disc-like one
# usage: bench/iso_scan_bench.sh [SIZE_MIB] [RUNS] [QIVPAK]   (defaults 16, 5 and the Release build in build/bench);
# prints median wall times and their ratio for each image
set -euo pipefail
source "$(dirname "$0")/common.sh"
size_mib=${1:-16}
runs=${2:-5}

dpkg-query -W -f='${Status}' openssl 2>/dev/null | grep -q "install ok installed" ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq openssl </dev/null >/dev/null
build_bench qivpak crafted_iso
qivpak=$(realpath "${3:-build/bench/qivpak}")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
./build/bench/crafted_iso "$work/crafted.iso" "$size_mib" 20
./build/bench/crafted_iso "$work/crafted-long.iso" "$size_mib" 20 255
bash bench/make_image.sh "$work/disc.iso" "$size_mib"

# median_secs COMMAND...: runs the command `runs` times, each writing a new output, and prints the median wall time.
median_secs() {
    local times=()
    for ((r = 0; r < runs; r++)); do
        rm -f "$work/out.qiv"
        local start end
        start=$(date +%s%N)
        "$@" >/dev/null
        end=$(date +%s%N)
        times+=("$(awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }')")
    done
    printf '%s\n' "${times[@]}" | median
}

echo "$qivpak; $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), medians of $runs runs"
for kind in crafted crafted-long disc; do
    image=$work/$kind.iso
    plain=$(median_secs "$qivpak" "$image" "$work/out.qiv")
    packed=$(stat -c %s "$work/out.qiv")
    scan=$(median_secs "$qivpak" -v -s "$image" "$work/out.qiv")
    case $kind in
        crafted) echo "image: $size_mib MiB crafted ISO, 20 subdirectories running on to its end, records of 34 bytes" ;;
        crafted-long) echo "image: the same with records of 255 bytes" ;;
        disc) echo "image: $size_mib MiB disc-like ISO of bench/make_image.sh (programs, text, movies, audio)" ;;
    esac
    awk -v p="$plain" -v s="$scan" -v c="$packed" -v i="$(stat -c %s "$image")" 'BEGIN {
        printf "  qivpak IMAGE OUT (plain pack)   %7.3f s   (container %.0f%% of the image)\n", p, 100 * c / i
        printf "  qivpak -v -s IMAGE OUT          %7.3f s\n", s
        printf "  ratio -v -s / plain             %7.1f     (target: at most 5)\n", s / p
    }'
done
