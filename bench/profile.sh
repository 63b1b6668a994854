#!/usr/bin/env bash
# Profiles one Kuvo loopback transfer with perf and prints where the time goes:
# the share of each thread and library, then the top symbols of the receiving
# engine's thread, of the receiving main thread (Kuvorecv) and of the sender.
# Usage: bench/profile.sh [BUILD_DIR] [SIZE] [COUNT]   (default: build-bench 1000000 200)
set -euo pipefail

build=${1:-build-bench}
size=${2:-1000000}
count=${3:-200}
command -v perf >/dev/null || { echo "profile.sh needs perf (Debian package linux-perf)" >&2; exit 1; }
data=$(mktemp /tmp/kuvo-profile.XXXXXX)
trap 'rm -f "$data"' EXIT

# The receiver is this executable started again through /proc/self/exe, so its
# main thread is named "exe"; the engine's thread is "UDP_receiver_th".
perf record -q -F 2000 -g -o "$data" -- "$build/bench/kuvo_bench" transfer size="$size" count="$count"

report() { perf report -i "$data" --stdio -g none --no-children "$@" 2>/dev/null | grep -v '^#' | grep -v '^$' || true; }
echo "== share of all samples by thread and library"
report --sort comm,dso | head -12
for thread in UDP_receiver_th exe kuvo_bench; do
  echo "== top symbols of $thread (share of that thread)"
  report --comm "$thread" --percentage relative --sort dso,sym | head -15
done
