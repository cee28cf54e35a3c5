#!/usr/bin/env bash
# Runs the example home with quorpack: every line of examples/Quorvant.boot
# starts its script on a thread of its own, and the program ends by itself
# when the last one has ended. Messages appear on standard error, note paths
# on standard output, results in examples/Temp/. That home runs on the
# console back end ("ui=console" in its Config.ini). On a desktop (DISPLAY or
# WAYLAND_DISPLAY set) the desktop home examples/desktop/ follows: a prompt
# with a captcha image, a message box and the tray icon; then examples/window/,
# an HTML window that lists the results in examples/Temp and answers clicks.
#   scripts/run-examples.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
[[ $build = /* ]] || build="$root/$build"
QUORPACK_HOME="$root/examples" "$build/src/quorpack"
echo "== results in examples/Temp:"
ls -l "$root/examples/Temp"
if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
  echo "== the desktop example: answer the prompt at the bottom right of the screen"
  QUORPACK_HOME="$root/examples/desktop" "$build/src/quorpack"
  echo "== the window example: the results above in an HTML window (关闭 or the close box ends it)"
  QUORPACK_HOME="$root/examples/window" "$build/src/quorpack"
fi
