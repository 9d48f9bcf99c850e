# common.sh - sourced by the benchmark scripts: the project root as working folder, what the build and
# the comparisons need installed, a Release build in build/bench, and the median of numbers

cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/install-deps.sh bench

# build_bench [TARGET...]: builds the targets (all when none is named) in build/bench.
# g++ 12 warns at -O3 of overlapping copies in string concatenations that cannot overlap, so warnings
# do not stop a benchmark build (the test builds keep them errors).
build_bench() {
    cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQIVPAK_BUILD_TESTS=OFF \
        -DQIVPAK_BUILD_BENCH=ON -DQIVPAK_WERROR=OFF >/dev/null
    cmake --build build/bench ${1:+--target "$@"} >/dev/null
}

# median: the middle one of the numbers on standard input, one a line (the upper one of an even count).
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# mount_scratch: a scratch folder $work with a mount point $mnt in it, unmounted and removed at exit.
mount_scratch() {
    work=$(mktemp -d)
    mnt=$work/mnt
    trap 'if mountpoint -q "$mnt"; then fusermount3 -u "$mnt"; fi; rm -rf "$work"' EXIT
}

# packed_image SIZE_MIB: a scratch folder $work (removed at exit) holding the disc-like image
# $image (bench/make_image.sh, $bytes bytes) and its plain container $container; $cores CPUs.
packed_image() {
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    image=$work/disc.iso
    container=$work/disc.qiv
    bash bench/make_image.sh "$image" "$1"
    ./build/bench/qivpak "$image" "$container" >/dev/null
    bytes=$(stat -c %s "$image")
    cores=$(nproc)
}
