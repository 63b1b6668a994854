#!/usr/bin/env bash
# Kuvo's end-to-end demo on loopback: one Octave process sends a struct, a
# 10 MB matrix and an int8 row, a plain program sends a message without a
# marker, and a second Octave process receives them all and reports.
# Usage: demo/octave/run.sh BUILD_DIR
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" 2>/dev/null && pwd) || { echo "demo: no build folder '${1:-build}'" >&2; exit 2; }
mex="$build/mex"
if [ ! -f "$mex/Kuvosend.mex" ]; then
  echo "demo: the plug-ins are not in $mex: build first (make build)" >&2
  exit 2
fi
octave=$(command -v octave-cli || command -v octave) || { echo "demo: Octave is not installed" >&2; exit 2; }

receiver_port=44000
sender_port=44001
plain_port=44002
plain_text="a plain datagram, no Kuvo marker"

work=$(mktemp -d)
receiver_pid=
cleanup() {
  [ -n "$receiver_pid" ] && kill "$receiver_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Both Octave processes share one CPU unless KUVO_DEMO_PIN=0: UDP has no flow
# control, and a sender on a CPU of its own can outrun the receiver thread on
# a busy machine until the kernel drops datagrams of the 10 MB value.
pin=()
if [ "${KUVO_DEMO_PIN:-1}" != 0 ] && command -v taskset >/dev/null; then
  cpu=$(awk '/^Cpus_allowed_list:/ { split($2, a, /[-,]/); print a[1] }' /proc/self/status 2>/dev/null || true)
  if [ -n "$cpu" ] && taskset -c "$cpu" true 2>/dev/null; then pin=(taskset -c "$cpu"); fi
fi

run_octave() {
  "${pin[@]}" "$octave" --no-gui --norc --quiet --no-history \
    --eval "addpath('$mex'); addpath('$here'); $1"
}

# Datagrams the kernel dropped on a port for a full receive buffer (Linux).
dropped_on_port() {
  awk -v port="$(printf ':%04X' "$1")" \
    'toupper($2) ~ port "$" { print $NF; found = 1 } END { if (!found) print "unknown" }' \
    /proc/net/udp6 2>/dev/null || echo unknown
}

run_octave "demo_receiver($receiver_port, $sender_port, $plain_port, '$work', '$plain_text')" &
receiver_pid=$!

status=0
run_octave "demo_sender($sender_port, $receiver_port, '$work')" || {
  echo "demo: the sender failed" >&2
  status=1
}

# The message of a program that knows nothing of MATLAB values.
if [ -x "$build/tools/kuvo/kuvo" ]; then sender="kuvo send"; else sender="python3"; fi
echo "sender: plain message (${#plain_text} bytes) sent by $sender from port $plain_port"
if [ -x "$build/tools/kuvo/kuvo" ]; then
  started=$(date +%s.%N)
  printf '%s' "$plain_text" |
    "$build/tools/kuvo/kuvo" send 127.0.0.1 "$receiver_port" - --from-port "$plain_port" >/dev/null
else
  started=$(python3 - "$receiver_port" "$plain_port" "$plain_text" <<'PY'
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", int(sys.argv[2])))
print("%.6f" % time.time())
s.sendto(sys.argv[3].encode(), ("127.0.0.1", int(sys.argv[1])))
PY
)
fi
plain_status=$?
ended=$(date +%s.%N)
if [ $plain_status -ne 0 ]; then
  echo "demo: the plain sender ($sender) failed" >&2
  status=1
else
  echo "4 $started $ended ${#plain_text}" >> "$work/sent.txt"
fi

# Read now: a receiver still waiting for a lost value keeps its socket open.
dropped=$(dropped_on_port "$receiver_port")
wait "$receiver_pid"
receiver_status=$?
receiver_pid=
if [ $receiver_status -ne 0 ] || [ $status -ne 0 ]; then
  echo "demo: FAILED (datagrams the kernel dropped on port $receiver_port: $dropped)" >&2
  exit 1
fi
echo "demo: passed"
