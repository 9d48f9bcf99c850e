#!/usr/bin/env bash
# memory_bench.sh - peak resident memory of qivpak -a and -d at growing thread counts
#
# usage: bench/memory_bench.sh QIVPAK [SIZE_MIB]
# Packs SIZE_MIB (default 16) of noise with -a, and unpacks it, at 1, 2, 64
# and 1024 requested threads, and prints GNU time's peak RSS for each. The
# bound to meet is 64 MiB at every thread count.
set -euo pipefail
qivpak=$(realpath "$1")
size=${2:-16}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((size << 20)) /dev/urandom > "$work/image"
printf '%-8s %12s %12s\n' threads "pack -a KiB" "unpack KiB"
for threads in 1 2 64 1024; do
    pack=$(QIVPAK_THREADS=$threads /usr/bin/time -f %M "$qivpak" -a "$work/image" "$work/image.qiv" 2>&1 >/dev/null)
    unpack=$(QIVPAK_THREADS=$threads /usr/bin/time -f %M "$qivpak" -d "$work/image.qiv" "$work/back" 2>&1 >/dev/null)
    printf '%-8s %12s %12s\n' "$threads" "$pack" "$unpack"
done
