#!/usr/bin/env bash
# Tests of the kuvo command-line tool: argument handling and exit codes, and
# messages sent and received over loopback (ports 44210-44219).
# Usage: cli_test.sh PATH_TO_KUVO
set -u

KUVO=${1:?usage: cli_test.sh PATH_TO_KUVO}
PORT=44210          # listener
FROM_PORT=44211     # fixed sender port, to check the reported port
WORK=$(mktemp -d)
passed=0
failed=0
listener=

cleanup() {
  if [ -n "$listener" ]; then kill "$listener" 2>/dev/null; wait "$listener" 2>/dev/null; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

ok()     { passed=$((passed + 1)); echo "ok - $1"; }
not_ok() { failed=$((failed + 1)); echo "not ok - $1"; shift; for line in "$@"; do echo "    $line"; done; }

# Runs kuvo with a time bound; sets rc, and leaves its output in $WORK/out
# and $WORK/err.
run() {
  timeout 20 "$KUVO" "$@" >"$WORK/out" 2>"$WORK/err" </dev/null
  rc=$?
}

# Waits (at most 10 s) until FILE holds a line matching PATTERN.
wait_for_line() {
  local i
  for i in $(seq 100); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# Starts `kuvo listen ARGS...` in the background with its output in
# $WORK/listen.out and .err, and waits until its socket is open.
start_listener() {
  # A report left by an earlier listener must not pass for this one's.
  rm -f "$WORK/listen.out" "$WORK/listen.err"
  "$KUVO" listen "$@" >"$WORK/listen.out" 2>"$WORK/listen.err" </dev/null &
  listener=$!
  wait_for_line "$WORK/listen.err" "listening on port"
}

# Waits (at most 20 s) for the listener to end; sets listen_rc, 124 when it
# had to be killed.
finish_listener() {
  local i
  for i in $(seq 200); do
    kill -0 "$listener" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$listener" 2>/dev/null; then kill -KILL "$listener"; fi
  wait "$listener"
  listen_rc=$?
  listener=
}

# --- Usage errors: exit 2 and a pointer to --help -----------------------------
usage_cases=(
  ""
  "frobnicate"
  "listen"
  "listen 0"
  "listen 65536"
  "listen 12ab"
  "listen -- -5"
  "listen 44210 44211"
  "listen 44210 --count"
  "listen 44210 --count 0"
  "listen 44210 --count -3"
  "listen 44210 --count 18446744073709551616"
  "listen 44210 --timeout 0"
  "listen 44210 --timeout -1"
  "listen 44210 --timeout soon"
  "listen 44210 --timeout inf"
  "listen 44210 --out d --stdout"
  "listen 44210 --out="
  "listen 44210 --stdout=yes"
  "listen 44210 --count 1 --count 2"
  "listen 44210 --verbose"
  "listen 44210 -x"
  "send"
  "send 127.0.0.1"
  "send 127.0.0.1 0"
  "send 127.0.0.1 70000"
  "send 127.0.0.1 port"
  "send 127.0.0.1 44210 a b"
  "send 127.0.0.1 44210 --from-port 65536"
  "send 127.0.0.1 44210 --from-port"
)
for args in "${usage_cases[@]}"; do
  # shellcheck disable=SC2086  # the cases are word lists
  run $args
  if [ "$rc" -eq 2 ] && grep -q "kuvo --help" "$WORK/err" && [ ! -s "$WORK/out" ]; then
    ok "usage error: kuvo $args"
  else
    not_ok "usage error: kuvo $args" "exit $rc, expected 2" "stderr: $(head -c 300 "$WORK/err")"
  fi
done

# --- Help: exit 0, usage on stdout --------------------------------------------
for args in "--help" "-h" "listen --help" "send 127.0.0.1 44210 -h"; do
  # shellcheck disable=SC2086
  run $args
  if [ "$rc" -eq 0 ] && grep -q "^Usage: kuvo listen PORT" "$WORK/out" && grep -q "Exit status" "$WORK/out"; then
    ok "help: kuvo $args"
  else
    not_ok "help: kuvo $args" "exit $rc" "stdout: $(head -c 200 "$WORK/out")"
  fi
done

# --- Runtime failures: exit 1 with a reason ------------------------------------
touch "$WORK/plain-file"
runtime_cases=(
  "cannot open|send 127.0.0.1 $PORT $WORK/no-such-file"
  "is a folder|send 127.0.0.1 $PORT $WORK"
  "output folder|listen $PORT --out $WORK/plain-file --timeout 5"
)
for entry in "${runtime_cases[@]}"; do
  reason=${entry%%|*}
  # shellcheck disable=SC2086
  run ${entry#*|}
  if [ "$rc" -eq 1 ] && grep -q "$reason" "$WORK/err"; then
    ok "runtime failure: ${entry#*|}"
  else
    not_ok "runtime failure: ${entry#*|}" "exit $rc, expected 1 with '$reason'" "stderr: $(head -c 300 "$WORK/err")"
  fi
done

# --- Timeout: exit 3 when fewer than --count messages came ---------------------
run listen "$PORT" --count 1 --timeout 0.3
if [ "$rc" -eq 3 ] && grep -q "timed out" "$WORK/err" && [ ! -s "$WORK/out" ]; then
  ok "listen times out with exit 3"
else
  not_ok "listen times out with exit 3" "exit $rc" "stderr: $(cat "$WORK/err")"
fi

# --- Round trip: what is sent arrives whole, reported line by line -------------
# Messages: plain text, an int8 value and a serialized value (with
# their two-byte endings), one over IPv6, and one that travels in fragments.
printf 'hello kuvo' >"$WORK/m1"
{ printf '\001\002\003'; printf '\0008'; } >"$WORK/m2"
{ printf 'serialized value'; printf '\000S'; } >"$WORK/m3"
head -c 3001 /dev/urandom >"$WORK/m4"
{ printf 'not a marker'; printf '\000X'; } >"$WORK/m5"
# host, file, expected report fields after the index: address port length marker
sends=(
  "127.0.0.1 m1 127.0.0.1 $FROM_PORT 10 none"
  "127.0.0.1 m2 127.0.0.1 $FROM_PORT 5 int8"
  "::1 m3 ::1 $FROM_PORT 18 serialized"
  "127.0.0.1 m4 127.0.0.1 $FROM_PORT 3001 none"
  "::1 m5 ::1 $FROM_PORT 14 none"
)
if start_listener "$PORT" --count "${#sends[@]}" --timeout 20 --out "$WORK/got"; then
  send_ok=1
  for entry in "${sends[@]}"; do
    read -r host file _ <<<"$entry"
    sent=$(timeout 20 "$KUVO" send "$host" "$PORT" "$WORK/$file" --from-port "$FROM_PORT" 2>"$WORK/send.err")
    if [ $? -ne 0 ] || [ "$sent" != "$(wc -c <"$WORK/$file" | tr -d ' ')" ]; then
      send_ok=0
      not_ok "send $file" "printed '$sent'" "$(cat "$WORK/send.err")"
    fi
  done
  [ "$send_ok" -eq 1 ] && ok "send prints the byte count of every message"
  finish_listener
  if [ "$listen_rc" -eq 0 ]; then ok "listen ends with exit 0 after --count messages"
  else not_ok "listen ends with exit 0 after --count messages" "exit $listen_rc" "$(cat "$WORK/listen.err")"; fi
  n=0
  for entry in "${sends[@]}"; do
    n=$((n + 1))
    read -r _ file fields <<<"$entry"
    want="$n $fields $WORK/got/msg-$n.bin"
    have=$(sed -n "${n}p" "$WORK/listen.out")
    if [ "$have" = "$want" ] && cmp -s "$WORK/$file" "$WORK/got/msg-$n.bin"; then
      ok "message $n ($file) reported and written intact"
    else
      not_ok "message $n ($file) reported and written intact" "want: $want" "have: $have"
    fi
  done
else
  not_ok "listener starts" "$(cat "$WORK/listen.err")"
  finish_listener
fi

# --- An empty message is sent (Kuvo receivers drop it, so kuvo warns) --------
timeout 20 "$KUVO" send 127.0.0.1 "$PORT" - </dev/null >"$WORK/out" 2>"$WORK/err"
rc=$?
if [ "$rc" -eq 0 ] && [ "$(cat "$WORK/out")" = 0 ] && grep -q "empty" "$WORK/err"; then
  ok "an empty message is sent with a warning"
else
  not_ok "an empty message is sent with a warning" "exit $rc" "stdout: $(cat "$WORK/out")" "stderr: $(cat "$WORK/err")"
fi

# --- --stdout: bytes on stdout, the report on stderr ---------------------------
head -c 20000 /dev/urandom >"$WORK/big"
if start_listener "$PORT" --count 1 --timeout 20 --stdout; then
  sent=$(timeout 20 "$KUVO" send 127.0.0.1 "$PORT" - <"$WORK/big" 2>"$WORK/send.err")
  finish_listener
  if [ "$sent" = 20000 ] && [ "$listen_rc" -eq 0 ] && cmp -s "$WORK/big" "$WORK/listen.out" \
     && grep -Eq '^1 127\.0\.0\.1 [0-9]+ 20000 none$' "$WORK/listen.err"; then
    ok "stdin to --stdout round trip"
  else
    not_ok "stdin to --stdout round trip" "sent '$sent', listen exit $listen_rc" "$(cat "$WORK/listen.err" "$WORK/send.err")"
  fi
else
  not_ok "listener starts (--stdout)" "$(cat "$WORK/listen.err")"
  finish_listener
fi

# --- Signals: a clean stop with 128 + the signal number ------------------------
for sig in INT TERM; do
  want=$((128 + $(kill -l "$sig")))
  if start_listener "$PORT" --timeout 20; then
    kill -"$sig" "$listener"
    finish_listener
    if [ "$listen_rc" -eq "$want" ] && grep -q "interrupted" "$WORK/listen.err"; then
      ok "SIG$sig stops listen with exit $want"
    else
      not_ok "SIG$sig stops listen with exit $want" "exit $listen_rc" "$(cat "$WORK/listen.err")"
    fi
  else
    not_ok "listener starts (SIG$sig)" "$(cat "$WORK/listen.err")"
    finish_listener
  fi
done

echo "cli: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
