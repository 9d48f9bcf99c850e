# make_seeds.py - writes the seed corpora of the fuzz targets into fuzz/corpus/ (usage: make_seeds.py QIVPAK_BINARY)
#
# Every seed is small on purpose: the fuzzers grow their own corpus from these.
# Seeds of fuzz_decompress start with a settings byte (bit 0: two threads);
# those of fuzz_iso with 16 settings bytes (see fuzz_iso.cpp); those of
# fuzz_options are argument lists separated by zero bytes.
import os
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
FRAME = 8192


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def text(size, seed):
    words = [b"sector ", b"frame ", b"disc ", b"zlib ", b"\n"]
    out = bytearray()
    while len(out) < size:
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        out += words[seed % len(words)]
    return bytes(out[:size])


def packed_by_tool(binary, image, *options):
    with tempfile.TemporaryDirectory() as tmp:
        src, dst = os.path.join(tmp, "img"), os.path.join(tmp, "out.qiv")
        with open(src, "wb") as f:
            f.write(image)
        subprocess.run([binary, *options, src, dst], check=True, stdout=subprocess.DEVNULL,
                       env=dict(os.environ, QIVPAK_THREADS="1"))
        with open(dst, "rb") as f:
            return f.read()


def container(total, frames, areas=None):
    """Header, tables and frames laid back to back; `areas` makes an NC area table."""
    n = len(frames)
    head = b"QIV\0" + struct.pack("<III", total, 1 if areas else 0, len(areas or [])) + bytes(16)
    start = 32 + 6 * n + (1536 if areas else 0)
    offsets, at = [], start
    for f in frames:
        offsets.append(at)
        at += len(f)
    table = b""
    if areas:
        table = b"".join(struct.pack("<II", s, c) for s, c in areas).ljust(1536, b"\0")
    return (head + struct.pack("<%dI" % n, *offsets) + struct.pack("<%dH" % n, *[len(f) for f in frames]) +
            table + b"".join(frames))


def decompress_seeds(binary):
    image = bytes(FRAME) + text(FRAME, 7)[:64] * (FRAME // 64) + text(300, 9)
    write("decompress", "tool-three-frames", b"\0" + packed_by_tool(binary, image))
    write("decompress", "tool-empty-two-threads", b"\1" + packed_by_tool(binary, b""))
    # A compressed frame, then a short last frame that an NC area stores raw.
    first, last = text(FRAME, 3)[:32] * (FRAME // 32), text(100, 5)
    write("decompress", "nc-area-raw-last-frame",
          b"\1" + container(FRAME + 100, [zlib.compress(first, 9), last], [(1, 1)]))


def record(extent, size, name, directory=False):
    rec = bytearray(33)
    struct.pack_into("<I", rec, 2, extent)
    struct.pack_into(">I", rec, 6, extent)
    struct.pack_into("<I", rec, 10, size)
    struct.pack_into(">I", rec, 14, size)
    rec[25] = 2 if directory else 0
    rec[32] = len(name)
    rec += name
    if len(rec) % 2:
        rec += b"\0"
    rec[0] = len(rec)
    return bytes(rec)


def iso_seed(fill, sectors, settings):
    """settings (16 bytes) + the first `fill` bytes of each sector from 16 on (the last one unpadded)."""
    return settings + b"".join(s.ljust(fill, b"\0")[:fill] for s in sectors[:-1]) + sectors[-1][:fill]


def iso_seeds():
    pvd = bytearray(b"\1CD001\1".ljust(156, b"\0"))
    pvd += record(17, 2048, b"\0", directory=True)
    root = (record(17, 2048, b"\0", True) + record(17, 2048, b"\1", True) +
            record(18, 5000, b"MOVIE.PMF;1") + record(19, 300, b"SOUND.AT3;1") +
            record(20, 2048, b"SUB", True) + record(17, 2048, b"LOOP", True))
    sub = record(20, 2048, b"\0", True) + record(17, 2048, b"\1", True) + record(21, 9000, b"CLIP.PMF;1")
    tree = [bytes(pvd), root, b"PSMF0000", b"RIFF", sub, b"PSMF0001"]
    magic = b"PSMF\0\0\0\0"
    # 256 bytes of each sector; media filter (files beginning with PSMF); both media scans.
    write("iso", "tree-psmf-filter", iso_seed(256, tree, bytes([0x3A, 0x30, 192, 0, 0, 0, 0, 6 << 3]) + magic))
    # The same tree with a name filter ".PMF" and capacity 1.
    write("iso", "tree-name-filter", iso_seed(256, tree, bytes([0x11, 0x30, 1, 0, 0, 0, 0, 4 | 2 << 3]) + b".PMF\0\0\0\0"))
    # Whole sectors, no filter, a size test in the settings for the fuzzer to switch on.
    write("iso", "whole-sectors-no-filter",
          iso_seed(2048, tree[:2], bytes([0xA4, 0x04, 255, 0x88, 0x13, 0, 0, 0]) + magic))


def options_seeds():
    lines = {
        "pack-all-stages": ["-v", "-s", "-a4096", "-l9", "img", "out", "info"],
        "unpack": ["-d", "c.qiv", "img", "info"],
        "wait-then-usage": ["-w", "-lx", "in", "out"],
        "unknown-and-dash-names": ["-x", "-", "in", "-d", "out"],
        "threshold-too-big": ["-a8193", "in", "out"],
        "upper-case": ["-A", "-L0", "-W", "in", "out"],
    }
    for name, args in lines.items():
        write("options", name, b"\0".join(a.encode() for a in args))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_seeds.py QIVPAK_BINARY")
    decompress_seeds(sys.argv[1])
    iso_seeds()
    options_seeds()
