#!/usr/bin/env bash
# test.sh - installs what is missing, builds with g++ and clang (warnings are errors) and runs every
# test (the large image once, in the g++ build; the unpacking tests and the damaged containers also
# with the zlib inflater alone), then runs them all again in a build with AddressSanitizer and UBSan, replays the fuzz corpora, and cross-builds
# the Windows tool with MinGW-w64 and runs every test under wine (QIVPAK_SKIP_WINDOWS=1 leaves the
# Windows stage out)
set -euo pipefail
cd "$(dirname "$0")/.."
windows=1
[[ ${QIVPAK_SKIP_WINDOWS:-0} == 1 ]] && windows=0
if ((windows)); then bash scripts/install-deps.sh windows; else bash scripts/install-deps.sh; fi

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

# The Windows tool, built on Linux: the test programs and qivpak.exe run under wine,
# in a wine prefix of the build's own that is made before anything runs in it.
run_windows_suite() {
    local dir=build/test-win
    echo "== windows =="
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
        -DQIVPAK_WERROR=ON >/dev/null
    local wine wineserver
    wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
    wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
    export WINEPREFIX=$PWD/$dir/wineprefix WINEDEBUG=-all
    # One server for the whole run: a server that ends between two test programs can drop the next one's
    # connection ("wine client error: ... recvmsg: Connection reset by peer") before its test begins.
    # Wine's own background programs then live as long as the server, so they start here with the prefix,
    # away from the tests' output: started by a test, they would hold its output open and ctest would wait.
    mkdir -p "$WINEPREFIX"
    "$wineserver" -p
    "$wine" wineboot --init </dev/null >/dev/null 2>&1
    # A program that crashes must end with its exception code, as on Windows. Wine's automatic debugger
    # would print a backtrace and end it with status 0, and ctest would call the crash a pass; with no
    # debugger that can start, the crash is the program's exit status.
    "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ \
        /d no-debugger /f </dev/null >/dev/null 2>&1
    cmake --build "$dir" -j "$jobs"
    local status=0
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" -LE large 2>&1 | tee "$dir/ctest.log" || status=$?
    # A test that wine could not start at all runs once more; a test that ran and failed is a failure.
    if ((status)) && grep -q '^wine client error' "$dir/ctest.log"; then
        echo "== windows: wine lost its server; the failed tests once more =="
        status=0
        ctest --test-dir "$dir" --output-on-failure --rerun-failed || status=$?
    fi
    "$wineserver" -k || true
    return "$status"
}

run_suite gcc g++
# The large image (a sparse 3 GiB image packed and unpacked): once, in the first build.
echo "== large =="
ctest --test-dir build/test-gcc --output-on-failure -L large
# The command lines again with one worker thread: the same text, files and statuses.
echo "== one thread =="
QIVPAK_THREADS=1 ctest --test-dir build/test-gcc --output-on-failure -j "$jobs" -L cli
# The zlib inflater alone, as a build without libdeflate has it: the unpacking tests and the
# damaged-container table, whose verdicts must be the same with either inflater.
echo "== zlib inflater =="
cmake -S . -B build/test-zlib -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQIVPAK_WERROR=ON -DQIVPAK_INFLATER=zlib >/dev/null
cmake --build build/test-zlib -j "$jobs" --target qivpak decompress_tests format_tests
ctest --test-dir build/test-zlib --output-on-failure -j "$jobs" -L 'decompress|format'
run_suite clang clang++
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_suite sanitize clang++ -DQIVPAK_SANITIZE=ON
# The fuzz targets replay their seed corpora (sanitizers on, no fuzzing).
run_suite fuzz clang++ -DQIVPAK_FUZZ=ON -DQIVPAK_BUILD_TESTS=OFF
if ((windows)); then run_windows_suite; fi
