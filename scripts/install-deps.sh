#!/usr/bin/env bash
# install-deps.sh - installs the Debian packages the build, tests and demo need, when missing
# usage: install-deps.sh [windows] [bench]   (windows: also the MinGW-w64 cross toolchain, its zlib and wine;
#                                            bench: what the benchmarks compare with)
set -euo pipefail

# libdeflate-dev: the fast frame inflater; libfuse3-dev and fuse3 (fusermount3): qivmount and its tests;
# libcli11-dev, libssl-dev and libpugixml-dev: qiv's command line, hashes and DAT files; libarchive-tools
# (bsdtar) and python3-pycdlib: other readers of the discs that the tests of qiv ls and extract compare with.
packages=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config zlib1g-dev libdeflate-dev libgtest-dev xorriso
          libfuse3-dev fuse3 libcli11-dev libssl-dev libpugixml-dev libarchive-tools python3-pycdlib)
for stage in "$@"; do
    case $stage in
    windows) packages+=(mingw-w64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine64) ;;
    bench) packages+=(pigz openssl time squashfs-tools squashfuse strace) ;;
    *) echo "install-deps.sh: unknown stage $stage" >&2; exit 2 ;;
    esac
done
missing=()
for pkg in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi
