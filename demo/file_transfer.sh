#!/usr/bin/env bash
# Moves a generated 20 MiB file and a few small messages through Kuvo over
# loopback with the kuvo tool, then shows what arrived, checks every
# message's SHA-256 against what was sent, and reports the throughput.
#
# UDP has no flow control: a sender that runs ahead of the receiving thread
# loses fragments in the kernel once the socket's receive buffer is full, and
# on a busy machine the sender easily does. So both programs run on one CPU,
# where the sender cannot outrun the receiver. KUVO_DEMO_PIN=0 runs them
# unpinned.
#
# Usage: demo/file_transfer.sh BUILD_DIR
set -euo pipefail

BUILD=${1:?usage: demo/file_transfer.sh BUILD_DIR}
KUVO=$BUILD/tools/kuvo/kuvo
PORT=44100        # the listener
FROM_PORT=44101   # the sender
BIG_BYTES=$((20 * 1024 * 1024))
LISTEN_SECONDS=30 # the listener's own bound; the whole demo stays under it plus a few seconds

if [ ! -x "$KUVO" ]; then
  echo "file transfer: FAILED: $KUVO is missing; build first (make build)" >&2
  exit 1
fi

work=$(mktemp -d)
listener=
cleanup() {
  if [ -n "$listener" ]; then kill "$listener" 2>/dev/null || true; wait "$listener" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "file transfer: FAILED: $*" >&2
  exit 1
}

now() { date +%s.%N; }

# The datagrams the kernel dropped so far on our UDP port for a full receive
# buffer (Linux), or "unknown".
dropped_on_port() {
  local hex
  hex=$(printf ':%04X' "$1")
  awk -v port="$hex" 'toupper($2) ~ port "$" { print $NF; found = 1 } END { if (!found) print "unknown" }' \
    /proc/net/udp6 2>/dev/null || echo unknown
}

pin=()
if [ "${KUVO_DEMO_PIN:-1}" != 0 ] && command -v taskset >/dev/null; then
  cpu=$(awk '/^Cpus_allowed_list:/ { split($2, a, /[-,]/); print a[1] }' /proc/self/status 2>/dev/null || true)
  if [ -n "$cpu" ] && taskset -c "$cpu" true 2>/dev/null; then pin=(taskset -c "$cpu"); fi
fi

# The messages, in the order they are sent: name, destination, file.
mkdir -p "$work/sent"
printf 'Hello from the kuvo tool\n' >"$work/sent/text.txt"
{ printf '\001\002\003\004\005\006\007'; printf '\0008'; } >"$work/sent/int8.bin"      # an int8 value
{ printf 'a serialized value'; printf '\000S'; } >"$work/sent/serialized.bin"          # a serialized value
head -c 5000 /dev/urandom >"$work/sent/five-kb.bin"                                     # five fragments
head -c "$BIG_BYTES" /dev/urandom >"$work/sent/twenty-mib.bin"                         # 20972 fragments
messages=(
  "text.txt 127.0.0.1"
  "int8.bin 127.0.0.1"
  "serialized.bin ::1"
  "five-kb.bin ::1"
  "twenty-mib.bin 127.0.0.1"
)

echo "== kuvo listen $PORT, then kuvo send of ${#messages[@]} messages from port $FROM_PORT" \
  "(${pin[*]:-unpinned})"
"${pin[@]}" "$KUVO" listen "$PORT" --count "${#messages[@]}" --timeout "$LISTEN_SECONDS" --out "$work/received" \
  >"$work/listen.out" 2>"$work/listen.err" </dev/null &
listener=$!
for _ in $(seq 100); do
  grep -q "listening on port" "$work/listen.err" && break
  kill -0 "$listener" 2>/dev/null || break
  sleep 0.1
done
grep -q "listening on port" "$work/listen.err" || fail "the listener did not start: $(cat "$work/listen.err")"

send_started=
for entry in "${messages[@]}"; do
  read -r name host <<<"$entry"
  [ "$name" = twenty-mib.bin ] && send_started=$(now)
  sent=$("${pin[@]}" "$KUVO" send "$host" "$PORT" "$work/sent/$name" --from-port "$FROM_PORT") \
    || fail "kuvo send of $name to $host reported '$sent'"
  printf '   sent %-15s to %-9s %9s bytes\n' "$name" "$host" "$sent"
done
send_done=$(now)
dropped=$(dropped_on_port "$PORT")

set +e
wait "$listener"
listen_rc=$?
set -e
listener=
received_all=$(now)

echo "== what arrived (index, sender address, sender port, bytes, marker, file)"
sed 's/^/   /' "$work/listen.out"
[ "$listen_rc" -eq 0 ] || {
  sed 's/^/   /' "$work/listen.err" >&2
  fail "only $(wc -l <"$work/listen.out") of ${#messages[@]} messages arrived within ${LISTEN_SECONDS} s" \
    "(listen exit $listen_rc; datagrams the kernel dropped on port $PORT for a full receive buffer: $dropped)"
}

echo "== checksums (sha256)"
bad=0
n=0
for entry in "${messages[@]}"; do
  n=$((n + 1))
  read -r name _ <<<"$entry"
  want=$(sha256sum <"$work/sent/$name" | cut -d' ' -f1)
  got=missing
  [ -f "$work/received/msg-$n.bin" ] && got=$(sha256sum <"$work/received/msg-$n.bin" | cut -d' ' -f1)
  if [ "$got" = "$want" ]; then
    printf '   %-15s %s  match\n' "$name" "$want"
  else
    printf '   %-15s sent %s\n   %-15s got  %s  MISMATCH\n' "$name" "$want" "" "$got"
    bad=$((bad + 1))
  fi
done
[ "$bad" -eq 0 ] || fail "$bad of ${#messages[@]} messages arrived damaged or not at all"

echo "== throughput of the 20 MiB message"
awk -v bytes="$BIG_BYTES" -v start="$send_started" -v sent="$send_done" -v done="$received_all" 'BEGIN {
  printf "   sending took  %.3f s (%.1f MB/s)\n", sent - start, bytes / (sent - start) / 1e6
  printf "   until written %.3f s (%.1f MB/s end to end)\n", done - start, bytes / (done - start) / 1e6
}'
echo "file transfer: OK: all ${#messages[@]} messages arrived intact"
