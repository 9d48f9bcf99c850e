#!/usr/bin/env bash
# demo.sh - installs what is missing, builds, packs a sample disc image it makes, unpacks and compares
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQIVPAK_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
qivpak=$PWD/build/release/qivpak

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/tree
mkdir -p "$tree/DOCS" "$tree/MOVIE" "$tree/SOUND"
# Text that compresses, a movie and a sound file that do not, and zero padding.
seq 1 200000 > "$tree/DOCS/NUMBERS.TXT"
{ printf 'PSMF'; head -c 3000000 /dev/urandom; } > "$tree/MOVIE/INTRO.PMF"
{ printf 'RIFF'; head -c 1000000 /dev/urandom; } > "$tree/SOUND/THEME.WAV"
head -c 2000000 /dev/zero > "$tree/PADDING.BIN"
xorriso -as mkisofs -quiet -o "$work/sample.iso" "$tree"

"$qivpak" -v -s "$work/sample.iso" "$work/sample.qiv" "$work/sample.info"
"$qivpak" -d "$work/sample.qiv" "$work/restored.iso"
cmp "$work/sample.iso" "$work/restored.iso"
echo "Restored image is identical to the original."
echo "Info file, NC areas and report:"
grep -E '^(NCAREA|Report)' "$work/sample.info"
