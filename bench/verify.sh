#!/usr/bin/env bash
# verify.sh - qiv verify beside qivpak -d to /dev/null on the same container, and what each part of verify costs
# usage: bench/verify.sh [SIZE_MIB] [RUNS]   (defaults 256 and 5); prints medians
#
# The goal: verify (reading every frame and computing CRC32, MD5 and SHA-1)
# at 0.8 or more of the speed of unpacking to /dev/null, both on all cores.
set -euo pipefail
source "$(dirname "$0")/common.sh"
size_mib=${1:-256}
runs=${2:-5}

build_bench qivpak qiv verify_bench
packed_image "$size_mib"

# measure COMMAND...: "WALL CPU" medians over the runs (CPU: user and system seconds).
measure() {
    local walls=() cpus=()
    for ((r = 0; r < runs; r++)); do
        /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >/dev/null 2>&1
        walls+=("$(awk '{ print $1 }' "$work/time")")
        cpus+=("$(awk '{ print $2 + $3 }' "$work/time")")
    done
    echo "$(printf '%s\n' "${walls[@]}" | median) $(printf '%s\n' "${cpus[@]}" | median)"
}

echo "image: $size_mib MiB disc-image-like ISO ($bytes bytes), $cores cores, $(lscpu | sed -n 's/^Model name: *//p')"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
read -r unpack unpack_cpu < <(measure ./build/bench/qivpak -d "$container" /dev/null)
read -r verify verify_cpu < <(measure ./build/bench/qiv verify "$container")
read -r verify1 verify1_cpu < <(measure ./build/bench/qiv verify --threads 1 "$container")
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
expected=$(sha1sum < "$image" | cut -c1-40)
./build/bench/qiv verify "$container" | grep -q "sha1 $expected\$" || { echo "verify gave a wrong SHA-1" >&2; exit 1; }

awk -v b="$bytes" -v u="$unpack" -v uc="$unpack_cpu" -v v="$verify" -v vc="$verify_cpu" -v v1="$verify1" \
    -v v1c="$verify1_cpu" -v cores="$cores" 'BEGIN {
    printf "\nwall seconds (CPU seconds), medians:\n"
    printf "  %-44s %6.3f (%6.3f)  %7.1f MB/s\n", "qivpak -d container /dev/null, " cores " threads", u, uc, b / 1e6 / u
    printf "  %-44s %6.3f (%6.3f)  %7.1f MB/s\n", "qiv verify, " cores " reader threads", v, vc, b / 1e6 / v
    printf "  %-44s %6.3f (%6.3f)  %7.1f MB/s\n", "qiv verify --threads 1", v1, v1c, b / 1e6 / v1
    printf "\nverify speed / unpack speed: %.2f (goal: 0.80 or more)\n", u / v
}'
echo
echo "CPU seconds of each part of verify, one thread each, in memory (median of $runs):"
./build/bench/verify_bench "$container" "$runs" | sed 's/^/  /'
echo "(the digests run side by side on threads of their own, MD5 alone sets the least wall time a pass can take;"
echo " with fewer cores than parts, the sum over the cores bounds it too)"
