#!/usr/bin/env bash
# test.sh - installs what is missing, builds with g++ and clang (warnings are errors) and runs every test
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
for compiler in g++ clang++; do
    dir=build/test-$compiler
    echo "== $compiler =="
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$compiler" \
        -DQIVPAK_WERROR=ON >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
done
