#!/usr/bin/env bash
# The same loop in four interpreters, timed side by side on this machine: a
# script of this engine, bash, Python 3 and Lua 5.4. Each does N passes of
# "i = i + 1" and a test that is never true. The interpreters run in
# alternating rounds (one run of each per round), so a change in the
# machine's load touches all of them alike; each run is measured in CPU
# seconds (user + system) and the summary gives min and median per
# interpreter and each peer's CPU time divided by this engine's (above 1.0:
# the engine is faster).
#
# Then a script shaped like a real extraction: it builds a 10,000-row text
# row by row with [@writefile...], matches every row against a pattern and
# cuts it with "split", then reads the whole text back, cuts it into rows
# and matches the pattern over all of it. Its result is checked, and its
# CPU seconds are given in the same way.
#
# With BASELINE, the engine_bench of another build (an earlier version) runs
# in the same rounds as a fifth interpreter and on the extraction script.
#
#   bench/engine_compare.sh [BUILD_DIR] [N] [ROUNDS] [BASELINE]
#                                       (defaults: build, 1000000, 7, none)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
n=${2:-1000000}
rounds=${3:-7}
baseline=${4:-}
bench=$build/bench/engine_bench
[[ -x $bench ]] || { echo "build engine_bench first ($bench)" >&2; exit 2; }
for tool in bash python3 lua5.4; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done

# The interpreter itself, not a version manager's wrapper script in front of
# it (pyenv's shim costs tens of milliseconds of CPU per start, which would
# be charged to Python).
python=$(python3 -c 'import sys; print(sys.executable)')

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
cat > "$tmp/loop.lua" <<LUA
local i = 0
while i < $n do
  i = i + 1
  if i == -1 then print("never") end
end
LUA

# CPU seconds (user + system) of one run of a command, to the millisecond
# (bash's own timing of the child, from the kernel's figures).
cpu() {
  local TIMEFORMAT='%3U %3S'
  { time "$@" > "$tmp/out" 2>/dev/null; } 2> "$tmp/time"
  awk '{printf "%.3f\n", $1 + $2}' "$tmp/time"
}

declare -A runs
names=(quorvant bash python3 lua5.4)
[[ -n $baseline ]] && names+=(baseline)
for ((r = 1; r <= rounds; ++r)); do
  runs[quorvant]+="$(cpu "$bench" --loop "$n") "
  instructions=$(awk '{print $4}' "$tmp/out")
  [[ -n $baseline ]] && runs[baseline]+="$(cpu "$baseline" --loop "$n") "
  runs[bash]+="$(cpu bash "$tmp/loop.sh") "
  runs[python3]+="$(cpu "$python" "$tmp/loop.py") "
  runs[lua5.4]+="$(cpu lua5.4 "$tmp/loop.lua") "
done

# "min median" of a list of numbers.
summary() {
  tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{v[NR] = $1}
    END {m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.4f %.4f\n", v[1], m}'
}

printf 'loop of %d passes (%d script instructions), %d alternating rounds, CPU seconds\n' \
  "$n" "$instructions" "$rounds"
printf '%-10s %8s %8s %16s %16s\n' "" min median "min ratio" "median ratio"
read -r qmin qmed < <(summary "${runs[quorvant]}")
for name in "${names[@]}"; do
  read -r mn md < <(summary "${runs[$name]}")
  awk -v name="$name" -v mn="$mn" -v md="$md" -v qmn="$qmin" -v qmd="$qmed" 'BEGIN {
    r1 = qmn > 0 ? mn / qmn : 0; r2 = qmd > 0 ? md / qmd : 0
    printf "%-10s %8.4f %8.4f %15.2fx %15.2fx\n", name, mn, md, r1, r2 }'
done
echo "(ratio = the interpreter's CPU time / quorvant's; above 1.0 quorvant is faster)"

# The extraction-shaped script.
rows=10000
{
  echo 'var [#sum] 0'
  echo 'var [#i] 0'
  echo 'regex r name{[0-9]+}'
  echo "while ([#i]<$rows)"
  echo '{'
  echo 'var [#i] ([#i]+1)'
  echo 'var [#row] id[#i],name[#i],[#i]'
  echo "eval [@writefile<<<$tmp/rows.txt<<<[#row]|]"
  echo 'match r [#row]'
  echo 'var [#fields] [@split<<<[#row]<<<,]'
  echo 'var [#sum] ([#sum]+[#fields])'
  echo '}'
  echo "var [#all] [@readfile<<<$tmp/rows.txt]"
  echo 'var [#n] [@split<<<[#all]<<<|]'
  echo 'match r [#all]'
  echo "eval [@writefile<<<$tmp/result.txt<<<[#n] [\$r.count] [#sum]<<<w]"
} | sed 's/$/\r/' > "$tmp/extract.qvr"
# Runs the extraction script with one engine_bench and checks its result.
extract_once() {
  rm -f "$tmp/rows.txt" "$tmp/result.txt"
  cpu "$1" --script "$tmp/extract.qvr"
  local result
  result=$(cat "$tmp/result.txt" 2>/dev/null || true)
  [[ $result == "$((rows + 1)) $rows $((rows * 3))" ]] || {
    echo "extraction script gave \"$result\", expected \"$((rows + 1)) $rows $((rows * 3))\"" >&2
    exit 1
  }
}
extract=""
extractBase=""
for ((r = 1; r <= rounds; ++r)); do
  extract+="$(extract_once "$bench") "
  [[ -n $baseline ]] && extractBase+="$(extract_once "$baseline") "
done
echo "extraction script ($rows rows: writefile, match, split per row; then readfile, split, match), CPU seconds"
read -r emin emed < <(summary "$extract")
printf '%-10s %8.4f %8.4f\n' quorvant "$emin" "$emed"
if [[ -n $baseline ]]; then
  read -r bmin bmed < <(summary "$extractBase")
  printf '%-10s %8.4f %8.4f   (baseline / quorvant: %.2fx min, %.2fx median)\n' baseline "$bmin" "$bmed" \
    "$(awk -v a="$bmin" -v b="$emin" 'BEGIN {print (b > 0 ? a / b : 0)}')" \
    "$(awk -v a="$bmed" -v b="$emed" 'BEGIN {print (b > 0 ? a / b : 0)}')"
fi
