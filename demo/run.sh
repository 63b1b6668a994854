#!/usr/bin/env bash
# The end-to-end demo: the Octave demo when there is one, then the file
# transfer through the kuvo tool. Fails when either fails.
# Usage: demo/run.sh BUILD_DIR
set -u

[ $# -eq 1 ] || { echo "usage: demo/run.sh BUILD_DIR" >&2; exit 2; }
[ -d "$1" ] || { echo "demo: build folder '$1' not found; build first (make build)" >&2; exit 1; }
BUILD=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
failed=()

if [ -f "$here/octave/run.sh" ]; then
  echo "=== Octave demo"
  bash "$here/octave/run.sh" "$BUILD" || failed+=("Octave demo")
else
  echo "=== Octave demo: not present, skipped"
fi

echo "=== File transfer"
bash "$here/file_transfer.sh" "$BUILD" || failed+=("file transfer")

if [ ${#failed[@]} -gt 0 ]; then
  echo "demo: FAILED: $(IFS=,; echo "${failed[*]}" | sed 's/,/, /g')" >&2
  exit 1
fi
echo "demo: OK"
