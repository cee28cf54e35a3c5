#!/usr/bin/env bash
# The whole test suite: a normal build and a sanitizer build (AddressSanitizer
# and UndefinedBehaviorSanitizer), each run through CTest with the database
# servers started on 127.0.0.1 for the duration; then the fuzz targets, built
# with clang, each run for 30 s.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/services.sh start
trap 'bash scripts/services.sh stop' EXIT
# shellcheck disable=SC1091
source build-services/services.env

bash scripts/build.sh build
(cd build && ctest --output-on-failure -j 2 --timeout 300)

bash scripts/build.sh build-asan -DQP_SANITIZE=ON -DQP_BUILD_BENCH=OFF
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j 2 --timeout 600)

# The fuzz smoke run: every target of tests/fuzz for 30 s; any crash fails.
bash scripts/fuzz.sh --smoke 30
