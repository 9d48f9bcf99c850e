#!/usr/bin/env bash
# test.sh - installs what is missing, builds with g++ and clang (warnings are errors) and runs every
# test (the unpacking tests also with the zlib inflater alone), then runs them all again in a build with
# AddressSanitizer and UBSan, and replays the fuzz corpora
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
run_suite() {  # run_suite NAME COMPILER [CMAKE OPTIONS...]
    local name=$1 compiler=$2
    shift 2
    local dir=build/test-$name
    echo "== $name =="
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$compiler" \
        -DQIVPAK_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" -LE large
}
run_suite gcc g++
# The zlib inflater alone, as a build without libdeflate has it: the unpacking tests.
echo "== zlib inflater =="
cmake -S . -B build/test-zlib -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQIVPAK_WERROR=ON -DQIVPAK_INFLATER=zlib >/dev/null
cmake --build build/test-zlib -j "$jobs" --target decompress_tests
ctest --test-dir build/test-zlib --output-on-failure -j "$jobs" -L decompress
run_suite clang clang++
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_suite sanitize clang++ -DQIVPAK_SANITIZE=ON
# The fuzz targets replay their seed corpora (sanitizers on, no fuzzing).
run_suite fuzz clang++ -DQIVPAK_FUZZ=ON -DQIVPAK_BUILD_TESTS=OFF
