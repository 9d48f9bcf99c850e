#!/usr/bin/env bash
# iso_scan_bench.sh - the media scan of a crafted image whose directories all run on to its end, against a plain pack
# usage: bench/iso_scan_bench.sh [SIZE_MIB] [RUNS]   (defaults 16 and 5); prints median wall times and their ratio
set -euo pipefail
source "$(dirname "$0")/common.sh"
size_mib=${1:-16}
runs=${2:-5}

build_bench qivpak crafted_iso
qivpak=$PWD/build/bench/qivpak

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
image=$work/crafted.iso
./build/bench/crafted_iso "$image" "$size_mib" 20

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

plain=$(median_secs "$qivpak" "$image" "$work/out.qiv")
scan=$(median_secs "$qivpak" -v -s "$image" "$work/out.qiv")
echo "image: $size_mib MiB crafted ISO, 20 subdirectories running on to its end; $(nproc) cores, medians of $runs runs"
awk -v p="$plain" -v s="$scan" 'BEGIN {
    printf "qivpak IMAGE OUT (plain pack)   %7.3f s\n", p
    printf "qivpak -v -s IMAGE OUT          %7.3f s\n", s
    printf "ratio -v -s / plain             %7.1f   (target: at most 20)\n", s / p
}'
