#!/usr/bin/env bash
# The same loop in three interpreters, timed on this machine: a script of
# this engine, bash and Python 3. Each does N passes of "i = i + 1" and a
# test that is never true. Prints wall and user-CPU seconds and the ratios.
#
#   bench/engine_compare.sh [BUILD_DIR] [N]      (defaults: build, 1000000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
n=${2:-1000000}
bench=$build/bench/engine_bench
[[ -x $bench ]] || { echo "build engine_bench first ($bench)" >&2; exit 2; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cat > "$tmp/loop.sh" <<SH
i=0
while [ \$i -lt $n ]; do
  i=\$((i+1))
  if [ \$i -eq -1 ]; then echo never; fi
done
SH
cat > "$tmp/loop.py" <<PY
i = 0
while i < $n:
    i = i + 1
    if i == -1:
        print("never")
PY

# Runs a command, prints "wall user" seconds.
timed() {
  /usr/bin/time -f "%e %U" -o "$tmp/time" "$@" > "$tmp/out"
  cat "$tmp/time"
}

read -r qwall quser < <(timed "$bench" --loop "$n")
instructions=$(awk '{print $4}' "$tmp/out")
read -r bwall buser < <(timed bash "$tmp/loop.sh")
read -r pwall puser < <(timed python3 "$tmp/loop.py")

awk -v n="$n" -v ins="$instructions" -v qw="$qwall" -v qu="$quser" -v bw="$bwall" -v bu="$buser" \
    -v pw="$pwall" -v pu="$puser" 'BEGIN {
  printf "loop of %d passes (%d script instructions)\n", n, ins
  printf "%-10s %8s %8s\n", "", "wall s", "user s"
  printf "%-10s %8.2f %8.2f\n", "engine", qw, qu
  printf "%-10s %8.2f %8.2f\n", "bash", bw, bu
  printf "%-10s %8.2f %8.2f\n", "python3", pw, pu
  if (qw > 0) printf "engine instructions/s: %.0f wall, %.0f user CPU\n", ins / qw, (qu > 0 ? ins / qu : 0)
  if (qw > 0 && qu > 0)
    printf "bash / engine: %.1fx wall, %.1fx CPU;  python3 / engine: %.2fx wall, %.2fx CPU\n",
           bw / qw, bu / qu, pw / qw, pu / qu
}'
