#!/usr/bin/env bash
# fuzz.sh - builds the libFuzzer targets with clang and runs each one for SECONDS seconds on a copy of its seed corpus
#
# Usage: scripts/fuzz.sh SECONDS [TARGET...]   (targets: unpack pack iso disc_tree, and inflaters where libdeflate is
# installed; default all)
# The build lives in build/fuzz. The targets run one after the other, each in
# one process. For each it prints libFuzzer's closing lines (executions,
# coverage, corpus). A crash, sanitizer report, broken invariant, leak or
# input slower than the per-input timeout stops that target; its reproducer
# is kept in build/fuzz/crashes/ and the script exits with status 1.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-}
if [[ ! $seconds =~ ^[0-9]+$ ]]; then
    echo "usage: $0 SECONDS [TARGET...]" >&2
    exit 2
fi
shift
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    targets=(unpack pack iso disc_tree)
    if pkg-config --exists libdeflate 2>/dev/null; then targets+=(inflaters); fi
fi

build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DQIVPAK_FUZZ=ON -DQIVPAK_BUILD_TESTS=OFF -DQIVPAK_WERROR=ON >/dev/null
cmake --build "$build" --target "${targets[@]/#/fuzz_}"
# The committed corpora must pass before anything new is tried.
pattern=$(IFS='|'; echo "${targets[*]}")
ctest --test-dir "$build" -L fuzz -R "^fuzz\\.($pattern)\\." --output-on-failure

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
crashes=$PWD/$build/crashes
mkdir -p "$crashes"

declare -A max_len=([unpack]=12288 [pack]=40000 [iso]=65536 [disc_tree]=65536 [inflaters]=9216)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
status=0
for name in "${targets[@]}"; do
    corpus=$work/$name
    mkdir -p "$corpus"
    cp fuzz/corpus/"$name"/* "$corpus"/
    log=$work/$name.log
    echo "== fuzz_$name: $seconds s, seed corpus of $(ls "$corpus" | wc -l) files =="
    if "$build/fuzz/fuzz_$name" "$corpus" -max_total_time="$seconds" -max_len="${max_len[$name]}" \
        $( [[ -f fuzz/$name.dict ]] && echo "-dict=fuzz/$name.dict" ) -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$crashes/$name-" >"$log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE|^Done [0-9]+ runs|^stat::(number_of_executed_units|peak_rss_mb|new_units_added)' "$log" || true
        echo "corpus grew to $(ls "$corpus" | wc -l) files"
    else
        status=1
        echo "FAILED: fuzz_$name found a problem; reproducer in $crashes/"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|invariant broken|.*runtime error)|^#[0-9]+[[:space:]]|^artifact_prefix|Test unit written' "$log" | tail -n 20 || true
        cp "$log" "$crashes/$name.log"
    fi
done
exit "$status"
