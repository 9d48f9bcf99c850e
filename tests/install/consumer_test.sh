#!/usr/bin/env bash
# consumer_test.sh - installs the project into a temporary prefix and builds the example against it
# usage: consumer_test.sh BUILD_DIR SOURCE_DIR COMPILER
set -euo pipefail
build=$1
source=$2
compiler=$3
work=$(mktemp -d)
log=$work/log
# On failure, show what the failing step printed; otherwise stay quiet.
trap 'status=$?; ((status == 0)) || cat "$log" >&2; rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >"$log" 2>&1
for header in disc error pack progress reader; do test -f "$work/prefix/include/qivpak/$header.hpp"; done
test -f "$work/prefix/share/man/man1/qivpak.1"
test -f "$work/prefix/share/doc/qivpak/LICENSE"
# The library is the engine and the reader: the tool's front end is not in it.
library=$(find "$work/prefix" -name 'libqivpak_core.a')
if nm -C "$library" | grep -E 'run_qivpak|Console::'; then echo "the installed library holds the front end"; exit 1; fi
cmake -S "$source/examples" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$work/prefix" \
    -DCMAKE_CXX_COMPILER="$compiler" >>"$log" 2>&1
cmake --build "$work/consumer" >>"$log" 2>&1

# A 20000-byte pattern, packed by the installed tool, read back by the example.
# (no pipe into head: the writer could die of SIGPIPE, which pipefail counts)
seq 1 5000 > "$work/image"
truncate -s 20000 "$work/image"
"$work/prefix/bin/qivpak" "$work/image" "$work/image.qiv" >/dev/null
"$work/consumer/qivdump" "$work/image.qiv" 8180 24 > "$work/got"
expected=$(od -An -tx1 -v -j 8180 -N 24 "$work/image" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
got=$(cut -d: -f2- "$work/got" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
if [[ "$got" != "$expected" ]]; then
    echo "qivdump printed: $got"
    echo "expected:        $expected"
    exit 1
fi

# The API packs exactly what the tool packs with the same options, and unpacks it.
"$work/prefix/bin/qivpak" -l9 -v -s -a8000 "$work/image" "$work/tool.qiv" >/dev/null
"$work/consumer/qivpack" -l 9 -v -s -a 8000 "$work/image" "$work/api.qiv" >/dev/null 2>&1
cmp "$work/tool.qiv" "$work/api.qiv"
"$work/consumer/qivpack" -d "$work/api.qiv" "$work/back" 2>/dev/null
cmp "$work/image" "$work/back"
if "$work/consumer/qivpack" -d "$work/image" "$work/none" 2>"$work/err"; then exit 1; fi
grep -qx "qivpack: Input is not a valid QIV file." "$work/err"
echo "installed package builds, packs like the tool and reads: ok"
