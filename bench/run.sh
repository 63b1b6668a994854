#!/usr/bin/env bash
# Runs Kuvo's benchmark against its baselines and prints one Markdown table.
# Usage: bench/run.sh [BUILD_DIR] [FIGURE...]   (default: build-bench, all)
# The table is also written to BUILD_DIR/bench/performance-table.md; progress
# goes to standard error.
set -euo pipefail

build=${1:-build-bench}
shift || true
figures=("$@")
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$build" && pwd)
bin=$build/bench
work=$build/bench/results
mkdir -p "$work"
rows=$work/rows.md
: > "$rows"

wants() {
  [ ${#figures[@]} -eq 0 ] && return 0
  local f
  for f in "${figures[@]}"; do [ "$f" = "$1" ] && return 0; done
  return 1
}

started=$(date +%s)
if wants 1; then
  echo "figure 1: MD5" >&2
  "$bin/kuvo_md5_bench" >> "$rows"
fi

library=()
for f in 2 3 4 5 6; do wants $f && library+=("$f"); done
if [ ${#library[@]} -gt 0 ]; then
  echo "figures ${library[*]}: the library against plain UDP" >&2
  "$bin/kuvo_bench" figures "${library[@]}" >> "$rows"
fi

# Figure 7 needs the seven gateways in BUILD_DIR/mex.
octave_figure() {
  local mexdir=$build/mex
  local gateways
  shopt -s nullglob
  gateways=("$mexdir"/*.mex)
  shopt -u nullglob
  if [ ${#gateways[@]} -lt 7 ] || ! command -v octave >/dev/null; then
    echo "| 7 | From Octave: 10 MB double matrix, 1000-element struct array | - | - | - | faster than udpport, gateway overhead < 25% | skipped: $(basename "$build") has no mex folder with the seven gateways |" >> "$rows"
    return
  fi
  local ports
  ports=$("$bin/kuvo_bench" ports 4 | tr '\n' ' ')
  local results=$work/octave-results.txt
  rm -f "$results"
  local call="addpath('$root/bench/octave'); values_bench"
  local args="'$mexdir', '$results', [$ports], 5, '$bin/kuvo_bench'"
  echo "figure 7: Octave on ports $ports" >&2
  timeout 200 octave --no-gui --norc --quiet --eval "$call('receive', $args)" \
    > "$work/octave-receive.log" 2>&1 &
  local receiver=$!
  if ! timeout 200 octave --no-gui --norc --quiet --eval "$call('send', $args)" \
      > "$work/octave-send.log" 2>&1; then
    echo "the sending Octave failed; see $work/octave-send.log" >&2
  fi
  wait "$receiver" || echo "the receiving Octave failed; see $work/octave-receive.log" >&2
  if [ -s "$results" ]; then
    "$bin/kuvo_bench" octave-rows "$results" >> "$rows"
  else
    echo "| 7 | From Octave | - | - | - | faster than udpport, gateway overhead < 25% | not measured: the Octave runs gave no results (see $work/octave-*.log) |" >> "$rows"
  fi
}
wants 7 && octave_figure

table=$build/bench/performance-table.md
{
  echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), kernel $(uname -r), net.core.rmem_max $(cat /proc/sys/net/core/rmem_max), Kuvo socket receive buffer $("$bin/kuvo_bench" buffer) bytes."
  echo "Run: $(date -u '+%Y-%m-%d %H:%M UTC'), bench/run.sh $(basename "$build") ${figures[*]:-} in $(( $(date +%s) - started )) s."
  echo
  echo "| Figure | What | Kuvo | Baseline | Ratio | Target | Met |"
  echo "| --- | --- | --- | --- | --- | --- | --- |"
  cat "$rows"
} > "$table"
cat "$table"
