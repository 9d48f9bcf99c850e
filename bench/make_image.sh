#!/usr/bin/env bash
# make_image.sh - a deterministic disc-image-like ISO 9660 image: programs, text, movies, audio, padding
# usage: make_image.sh OUT.iso [SIZE_MIB]   (default 256)
set -euo pipefail
out=$1
size_mib=${2:-256}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/tree
mkdir -p "$tree/BIN" "$tree/LIB" "$tree/DOC" "$tree/MOVIE" "$tree/SOUND" "$tree/PAD"

# Deterministic incompressible bytes: AES-CTR keyed by the seed, over zeros.
stream() {  # stream SEED BYTES
    local key
    key=$(printf '%s' "$1" | sha256sum | cut -c1-32)
    head -c "$2" /dev/zero | openssl enc -aes-128-ctr -nosalt -K "$key" -iv 00000000000000000000000000000000
}
budget=$((size_mib * 1024 * 1024))
share() { echo $((budget * $1 / 100)); }

# Executables and libraries: the system's own, in name order, until their share is filled.
fill_from() {  # fill_from DIR SHARE_PERCENT SOURCE_GLOB...
    local dir=$1 want; want=$(share "$2"); shift 2
    local have=0 n=0
    for f in $(printf '%s\n' "$@" | LC_ALL=C sort); do
        [[ -f $f ]] || continue
        head -c $((want - have)) "$f" > "$dir/F$(printf '%05d' $n).BIN"; n=$((n + 1))
        have=$((have + $(stat -c %s "$dir/F$(printf '%05d' $((n - 1))).BIN")))
        ((have < want)) || break
    done
}
fill_from "$tree/BIN" 20 /usr/bin/*
fill_from "$tree/LIB" 15 /usr/lib/x86_64-linux-gnu/*.so*
# Text: numbers and words.
seq 1 "$(( $(share 10) / 7 ))" > "$tree/DOC/NUMBERS.TXT"
# Movies and audio: incompressible payloads behind their magic.
for i in 1 2 3; do { printf 'PSMF'; stream "movie$i" $(( $(share 10) )); } > "$tree/MOVIE/M$i.PMF"; done
for i in 1 2; do { printf 'RIFF'; stream "audio$i" $(( $(share 5) )); } > "$tree/SOUND/S$i.WAV"; done
# Padding.
head -c "$(share 10)" /dev/zero > "$tree/PAD/ZERO.BIN"
# Fixed dates everywhere, so the same inputs give the same image.
find "$tree" -exec touch -h -d '2026-01-01 00:00:00 UTC' {} +
SOURCE_DATE_EPOCH=1767225600 xorriso -as mkisofs -quiet --modification-date=2026010100000000 -o "$out" "$tree" 2>/dev/null
