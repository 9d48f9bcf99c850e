#!/usr/bin/env bash
# verify.sh - qiv verify of one container and of eight, against what the machine's cores allow
# usage: bench/verify.sh [SIZE_MIB] [RUNS]   (defaults 256 and 5); prints medians
#
# Goals, each printed beside its figure:
#   one container: its speed at 0.9 or more of the machine's limit, the least time a pass can take:
#     the larger of MD5 alone (it is serial) and all the work of verify spread over the cores;
#   eight containers: with more cores than digests (3), at 0.85 or more of the cores times one
#     container's CPU rate; with fewer, no slower than verifying them one at a time (1.0 or more).
# Every run is --no-cache: the hash cache would answer all runs but the first.
set -euo pipefail
source "$(dirname "$0")/common.sh"
size_mib=${1:-256}
runs=${2:-5}

build_bench qivpak qiv verify_bench
packed_image "$size_mib"
eight=()
for i in 1 2 3 4 5 6 7 8; do
    cp "$container" "$work/copy$i.qiv"
    eight+=("$work/copy$i.qiv")
done

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
read -r one one_cpu < <(measure ./build/bench/qiv verify --no-cache "$container")
read -r all all_cpu < <(measure ./build/bench/qiv verify --no-cache "${eight[@]}")
read -r seq seq_cpu < <(measure bash -c 'for f; do ./build/bench/qiv verify --no-cache "$f" || exit 1; done' - "${eight[@]}")
parts=$(./build/bench/verify_bench "$container" "$runs")
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
expected=$(sha1sum < "$image" | cut -c1-40)
./build/bench/qiv verify --no-cache "${eight[@]}" | grep -c "sha1 $expected\$" | grep -qx 8 ||
    { echo "verify gave a wrong SHA-1" >&2; exit 1; }

md5=$(awk '$1 == "md5" { print $2 }' <<<"$parts")
sum=$(awk '$1 == "sum" { print $2 }' <<<"$parts")
awk -v b="$bytes" -v one="$one" -v onec="$one_cpu" -v all="$all" -v allc="$all_cpu" -v seq="$seq" -v seqc="$seq_cpu" \
    -v md5="$md5" -v sum="$sum" -v cores="$cores" 'BEGIN {
    printf "\nwall seconds (CPU seconds), medians:\n"
    printf "  %-44s %6.3f (%6.3f)  %7.1f MB/s\n", "qiv verify, one container", one, onec, b / 1e6 / one
    printf "  %-44s %6.3f (%6.3f)  %7.1f MB/s\n", "qiv verify, eight containers", all, allc, 8 * b / 1e6 / all
    printf "  %-44s %6.3f (%6.3f)  %7.1f MB/s\n", "qiv verify, the eight one at a time", seq, seqc, 8 * b / 1e6 / seq
    # (comparisons in parentheses: a bare ">" in a printf list is awk'"'"'s output redirection)
    serial = (md5 > sum / cores)
    limit = serial ? md5 : sum / cores
    printf "\nthe least time of one pass: %.3f s (%s)\n", limit, serial ? "MD5 alone" : "all the work over " cores " cores"
    printf "one container / the machine'"'"'s limit:         %.2f (goal: 0.90 or more)\n", limit / one
    many = (cores > 3)
    ideal = 8 * onec / cores
    printf "eight / (cores x one container'"'"'s CPU rate):  %.2f%s\n", ideal / all, many ? " (goal: 0.85 or more)" : " (a goal with more cores than digests)"
    printf "eight at once / eight one at a time:        %.2f%s\n", seq / all, many ? "" : " (goal: 1.00 or more with no more cores than digests)"
}'
echo
echo "CPU seconds of each part of verify, one thread each, in memory (median of $runs):"
sed 's/^/  /' <<<"$parts"
