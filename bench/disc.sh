#!/usr/bin/env bash
# disc.sh - the files inside a container: how much of it `qiv ls` reads, how fast `qiv extract` pulls
# one large file out beside `qiv unpack` of the same bytes, and a sequential read of that file through
# `qivmount --files` beside the same bytes read through the image view
# usage: bench/disc.sh [SIZE_MIB] [RUNS]   (defaults 256 and 5); prints medians and the ratios beside their goals
set -euo pipefail
source "$(dirname "$0")/common.sh"
size_mib=${1:-256}
runs=${2:-5}

build_bench qiv qivmount
bin=$PWD/build/bench

mount_scratch
mkdir -p "$work/image" "$work/files" "$work/tree" "$mnt"
# disc.qiv: the disc-like image, many files. big.qiv: a disc whose one file BIG.BIN holds the
# bytes of that whole image, so that the file and the image are the same bytes.
bash bench/make_image.sh "$work/disc.iso" "$size_mib"
cp "$work/disc.iso" "$work/tree/BIG.BIN"
xorriso -as mkisofs -quiet -R -o "$work/big.iso" "$work/tree" 2>/dev/null
rm "$work/tree/BIG.BIN"
"$bin/qiv" pack -o "$work/image" "$work/disc.iso" >/dev/null
"$bin/qiv" pack -o "$work/files" "$work/big.iso" >/dev/null
rm "$work/big.iso"
bytes=$(stat -c %s "$work/disc.iso")
cores=$(nproc)

# The frames a listing reads: every read of the container traced, each mapped through the
# container's index to the frames whose stored bytes it covers; the index itself is not a frame.
strace -f -e trace=openat,pread64,read -e signal=none -o "$work/ls.trace" \
    "$bin/qiv" ls --long "$work/image/disc.qiv" >"$work/ls.out"
frames_read=$(python3 - "$work/image/disc.qiv" "$work/ls.trace" <<'PY'
import re, struct, sys
container, trace = sys.argv[1], sys.argv[2]
with open(container, "rb") as f:
    header = f.read(32)
    total = struct.unpack_from("<I", header, 4)[0]
    n = (total >> 13) + (1 if total & 8191 else 0)
    offsets = struct.unpack("<%dI" % n, f.read(4 * n))
    lengths = struct.unpack("<%dH" % n, f.read(2 * n))
fds, pos, touched = set(), {}, set()
for line in open(trace):
    m = re.search(r'openat\(.*"(.*)".*\) = (\d+)$', line)
    if m and m.group(1) == container:
        fds.add(m.group(2)); pos[m.group(2)] = 0
        continue
    m = re.search(r'pread64\((\d+), .*, \d+, (\d+)\) = (\d+)$', line)
    r = None if m else re.search(r' read\((\d+), .*, \d+\) = (\d+)$', line)
    if m and m.group(1) in fds:
        start, got = int(m.group(2)), int(m.group(3))
    elif r and r.group(1) in fds:
        start, got = pos[r.group(1)], int(r.group(2))
        pos[r.group(1)] += got
    else:
        continue
    for i in range(n):
        if offsets[i] < start + got and offsets[i] + lengths[i] > start:
            touched.add(i)
print(len(touched), n)
PY
)
read -r touched frames <<<"$frames_read"

seconds() {  # seconds COMMAND...: wall time of one run
    /usr/bin/time -f '%e' -o "$work/time" "$@" >/dev/null 2>&1
    cat "$work/time"
}
unmount_it() {
    fusermount3 -u "$mnt"
    while pgrep -f "qivmount .*$work" >/dev/null; do sleep 0.05; done
}

extract=() unpack=() view=() files=()
for ((r = 0; r < runs; r++)); do
    rm -rf "$work/out"
    extract+=("$(seconds "$bin/qiv" extract -o "$work/out" "$work/files/big.qiv" /BIG.BIN)")
    cmp -s "$work/disc.iso" "$work/out/BIG.BIN" || { echo "the extracted file differs" >&2; exit 1; }
    rm -rf "$work/out"
    unpack+=("$(seconds "$bin/qiv" unpack -o "$work/out" "$work/image/disc.qiv")")
    # A fresh mount each run, so that the kernel's page cache holds nothing of what is read.
    "$bin/qivmount" "$work/image" "$mnt"
    view+=("$(seconds cat "$mnt/disc.iso")")
    unmount_it
    "$bin/qivmount" --files "$work/files/big.qiv" "$mnt"
    files+=("$(seconds cat "$mnt/big/BIG.BIN")")
    cmp -s "$work/disc.iso" "$mnt/big/BIG.BIN" || { echo "the file read through the mount differs" >&2; exit 1; }
    unmount_it
done
e=$(printf '%s\n' "${extract[@]}" | median)
u=$(printf '%s\n' "${unpack[@]}" | median)
v=$(printf '%s\n' "${view[@]}" | median)
f=$(printf '%s\n' "${files[@]}" | median)

echo "image: $size_mib MiB disc-image-like ISO ($bytes bytes, $(grep -c . "$work/ls.out") paths), $cores cores, $(lscpu | sed -n 's/^Model name: *//p')"
awk -v t="$touched" -v n="$frames" -v b="$bytes" -v e="$e" -v u="$u" -v v="$v" -v f="$f" -v runs="$runs" 'BEGIN {
    printf "  %-52s %8d of %d frames = %.2f%%   (goal: at most 2%%)\n", "qiv ls --long of the disc reads", t, n, 100 * t / n
    printf "medians of %d runs:\n", runs
    printf "  %-52s %8.1f MB/s  %6.2f s\n", "qiv extract of one file of the image size", b / 1e6 / e, e
    printf "  %-52s %8.1f MB/s  %6.2f s\n", "qiv unpack of the image (the same bytes)", b / 1e6 / u, u
    printf "  %-52s %8.2f   (goal: at least 0.8)\n", "extract / unpack throughput", u / e
    printf "  %-52s %8.1f MB/s  %6.2f s\n", "cat of the file through qivmount --files", b / 1e6 / f, f
    printf "  %-52s %8.1f MB/s  %6.2f s\n", "cat of the same bytes through the image view", b / 1e6 / v, v
    printf "  %-52s %8.2f   (goal: at least 0.9)\n", "--files / image view throughput", v / f
}'
