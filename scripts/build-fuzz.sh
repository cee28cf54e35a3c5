#!/usr/bin/env bash
# Configures and builds the fuzz tree: clang, every library instrumented for
# libFuzzer and built with AddressSanitizer and UndefinedBehaviorSanitizer,
# and one program fuzz_<target> per file of tests/fuzz/targets/.
#   scripts/build-fuzz.sh [DIR] [extra cmake options...]   (default: build-fuzz)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-fuzz}; shift || true
CC=clang CXX=clang++ cmake -S "$root" -B "$root/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQP_FUZZ=ON -DQP_BUILD_BENCH=OFF "$@" >/dev/null
cmake --build "$root/$dir" -j "$(nproc)" --target qp_fuzz_all
