#!/usr/bin/env bash
# inflate.sh - CPU per inflated frame, and unpacking against the in-memory frame inflater and a plain copy
# usage: bench/inflate.sh [SIZE_MIB] [RUNS]   (defaults 64 and 5); prints medians, and the ratios beside
# their goals: one thread of `qivpak -d` to /dev/null at least 0.9 of the in-memory frame inflater (per
# CPU second), and `qivpak -d` to a new file at all cores at least 0.85 of cores x that rate (wall time)
#
# Builds qivpak twice: with libdeflate (the default where it is installed) and
# with -DQIVPAK_INFLATER=zlib, the inflater before it, so both are measured
# on the same machine in the same run.
set -euo pipefail
source "$(dirname "$0")/common.sh"
size_mib=${1:-64}
runs=${2:-5}

build_bench qivpak inflate_bench
cmake -S . -B build/bench-zlib -G Ninja -DCMAKE_BUILD_TYPE=Release -DQIVPAK_BUILD_TESTS=OFF -DQIVPAK_INFLATER=zlib >/dev/null
cmake --build build/bench-zlib --target qivpak >/dev/null

packed_image "$size_mib"

# measure FIELD COMMAND...: median over the runs of wall seconds (FIELD e) or
# CPU seconds, user and system (FIELD cpu); every run writes a new file.
measure() {
    local field=$1; shift
    for ((r = 0; r < runs; r++)); do
        rm -f "$work/out"
        /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >/dev/null 2>&1
        if [[ $field == e ]]; then awk '{ print $1 }' "$work/time"; else awk '{ print $2 + $3 }' "$work/time"; fi
    done | median
}

echo "image: $size_mib MiB disc-image-like ISO ($bytes bytes), $cores cores, $(lscpu | sed -n 's/^Model name: *//p')"
echo "in memory, one thread, every compressed frame:"
./build/bench/inflate_bench "$container" "$runs" | tee "$work/inflaters"
loop=$(awk '/^zlib_uncompress_per_frame/ { print $2 }' "$work/inflaters")
# The frame inflater every reader of containers uses: libdeflate's where the build has it.
frame_rate=$(awk '/^libdeflate_frame_inflater/ { r = $4 } /^zlib_frame_inflater/ { if (r == "") z = $4 }
                  END { print (r != "" ? r : z) }' "$work/inflaters")

cpu_null=$(measure cpu env QIVPAK_THREADS=1 ./build/bench/qivpak -d "$container" /dev/null)
cpu_file=$(measure cpu env QIVPAK_THREADS=1 ./build/bench/qivpak -d "$container" "$work/out")
cpu_zlib=$(measure cpu env QIVPAK_THREADS=1 ./build/bench-zlib/qivpak -d "$container" /dev/null)
copy=$(measure e sh -c "cat '$image' > '$work/out'")
unpack=$(measure e ./build/bench/qivpak -d "$container" "$work/out")
unpack_zlib=$(measure e ./build/bench-zlib/qivpak -d "$container" "$work/out")
./build/bench/qivpak -d "$container" "$work/out" >/dev/null
cmp "$image" "$work/out"

awk -v b="$bytes" -v loop="$loop" -v n="$cpu_null" -v f="$cpu_file" -v z="$cpu_zlib" -v c="$copy" -v u="$unpack" \
    -v uz="$unpack_zlib" -v cores="$cores" -v rate="$frame_rate" 'BEGIN {
    printf "\nCPU seconds, one thread:\n"
    printf "  %-52s %6.3f\n", "loop of zlib uncompress over the frames (in memory)", loop
    printf "  %-52s %6.3f   %.2fx less\n", "qivpak -d to /dev/null, libdeflate", n, loop / n
    printf "  %-52s %6.3f   %.2fx less\n", "qivpak -d to a new file, libdeflate", f, loop / f
    printf "  %-52s %6.3f   %.2fx less\n", "qivpak -d to /dev/null, zlib inflater", z, loop / z
    printf "\nwall seconds, a new file each run:\n"
    printf "  %-52s %6.3f  %7.1f MB/s\n", "cat image > copy", c, b / 1e6 / c
    printf "  %-52s %6.3f  %7.1f MB/s  %.2f of the copy\n", "qivpak -d, " cores " threads, libdeflate", u, b / 1e6 / u, c / u
    printf "  %-52s %6.3f  %7.1f MB/s  %.2f of the copy\n", "qivpak -d, " cores " threads, zlib inflater", uz, b / 1e6 / uz, c / uz
    printf "\nagainst the in-memory frame inflater (%.1f MB per CPU second):\n", rate
    printf "  %-52s %6.2f   (goal: at least 0.90)\n", "qivpak -d, 1 thread, to /dev/null, per CPU second", b / 1e6 / n / rate
    printf "  %-52s %6.2f   (goal: at least 0.85)\n", "qivpak -d, " cores " threads, to a new file / (" cores " x inflater)", b / 1e6 / u / (cores * rate)
}'
