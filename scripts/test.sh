#!/usr/bin/env bash
# The whole test suite: a normal build, a sanitizer build (AddressSanitizer
# and UndefinedBehaviorSanitizer) and a ThreadSanitizer build, each run
# through CTest with the database servers started on 127.0.0.1 for the
# duration; then the fuzz targets, built with clang, each run for 30 s.
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

# ThreadSanitizer: every test of the threaded code (engine, UI dispatching,
# the program end to end with its 50-script stress test, HTTP client) with
# any report failing the test (halt_on_error; a child quorpack exits 66).
# Left to the stages above: the desktop tests (GTK and WebKit run threads of
# their own that the sanitizer cannot follow, and they test drawing, not our
# threads), the tests against the database servers (client libraries built
# without the sanitizer) and the install tests (no threads).
bash scripts/build.sh build-tsan -DQP_TSAN=ON -DQP_BUILD_BENCH=OFF
export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp:halt_on_error=1:exitcode=66:second_deadlock_stack=1"
tsan_skip='^(DesktopTest|HtmlWindowTest|Fonts|AdoServer|MysqlBackEnd|DbCommandsMysql|DbCommandsServer)[.]|^install[.]'
(cd build-tsan && ctest --output-on-failure -j 2 --timeout 600 -E "$tsan_skip")

# The fuzz smoke run: every target of tests/fuzz for 30 s; any crash fails.
bash scripts/fuzz.sh --smoke 30
