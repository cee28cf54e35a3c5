#!/usr/bin/env bash
# Runs the libFuzzer programs of tests/fuzz, building the fuzz tree first
# (scripts/build-fuzz.sh; a no-op when it is up to date).
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
#       one target for that long
#   scripts/fuzz.sh --smoke [SECONDS]
#       every target for SECONDS (default 30), one after the other; fails
#       when any of them finds a crash, a leak, a time-out or memory exhaustion.
#       The smoke run takes a fixed seed (QP_FUZZ_SEED, default 1) so that a
#       run elsewhere walks the inputs a run here walked; long runs take a
#       fresh seed each time.
#   scripts/fuzz.sh --list
# A run starts from a copy of the target's seed corpus and regression inputs
# (the repository's files are never written) and works in
# build-fuzz/fuzz-runs/TARGET/: corpus/ keeps what runs found, fuzz.log the
# output, and a failing input is left there as crash-*, leak-*, timeout-* or
# oom-*. Once its fault is fixed it goes into tests/fuzz/regressions/ as
# TARGET-<n>.bin, where the test suite replays it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tree=build-fuzz
bin="$root/$tree/tests/fuzz"

targets() {
  local f
  for f in "$root"/tests/fuzz/targets/*_fuzz.cpp; do
    f=${f##*/}
    echo "${f%_fuzz.cpp}"
  done
}

# The longest input worth trying: enough for the structure each parser reads.
max_len() {
  case $1 in
    native) echo 1024 ;;
    regex) echo 2048 ;;
    url) echo 4096 ;;
    http) echo 65536 ;;
    compiler) echo 16384 ;;
    *) echo 8192 ;;
  esac
}

# run TARGET SECONDS [options...]: prints one summary line; fails with the
# fuzzer when it found something.
run() {
  local target=$1 seconds=$2; shift 2
  local dir="$root/$tree/fuzz-runs/$target"
  mkdir -p "$dir/corpus"
  rm -rf "$dir/seeds" "$dir/tmp"
  mkdir -p "$dir/seeds" "$dir/tmp"
  cp "$root/tests/fuzz/corpus/$target"/* "$dir/seeds/" 2>/dev/null || true
  cp "$root/tests/fuzz/regressions/$target"-* "$dir/seeds/" 2>/dev/null || true
  local status=0
  (cd "$dir" && TMPDIR="$dir/tmp" UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "$bin/fuzz_$target" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/" \
      "$@" "$dir/corpus" "$dir/seeds") >"$dir/fuzz.log" 2>&1 || status=$?
  rm -rf "$dir/tmp"
  local runs cov
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/fuzz.log" | tail -1)
  cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' "$dir/fuzz.log" | tail -1)
  if [ "$status" -eq 0 ]; then
    printf '%-12s ok      %10s runs  cov %s\n' "$target" "${runs:-?}" "${cov:-?}"
    return 0
  fi
  printf '%-12s FAILED  (exit %s) see %s\n' "$target" "$status" "$dir/fuzz.log"
  grep -E '^(==[0-9]+==( ERROR|ERROR)|SUMMARY|fuzz: |.*runtime error)|Test unit written' \
      "$dir/fuzz.log" | head -n 8 | sed 's/^/    /' || true
  return "$status"
}

case ${1:-} in
  --list) targets; exit 0 ;;
  ""|-h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac

log=$(mktemp)
if ! bash "$root/scripts/build-fuzz.sh" "$tree" >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  exit 1
fi
rm -f "$log"

if [ "$1" = --smoke ]; then
  seconds=${2:-30}
  failed=()
  for target in $(targets); do
    run "$target" "$seconds" -seed="${QP_FUZZ_SEED:-1}" || failed+=("$target")
  done
  if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz smoke run: failures in ${failed[*]}" >&2
    exit 1
  fi
  exit 0
fi

target=$1
seconds=${2:?"usage: scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]"}
shift 2
[ -x "$bin/fuzz_$target" ] || { echo "no fuzz target '$target'; try --list" >&2; exit 2; }
run "$target" "$seconds" "$@"
