#!/usr/bin/env bash
# Runs the example home: for now, lists each example script's compiled form.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
for f in "$root"/examples/Script/*.qvr; do
  echo "== $(basename "$f")"
  "$root/build/src/qvrc" --home "$root/examples" "$f"
done
