# The bench's relay and capture, sourced by bench/import-throughput and
# bench/walk (after scripts/lib/common.sh, with $sandbox, $work and the
# sandbox's environment set).
# shellcheck shell=bash disable=SC2154
#
# Round trips: what a far-away server costs. The program reaches the domain
# controller through a relay of the bench's own that holds every packet 10 ms
# in each direction (20 ms a round trip), and tcpdump in the sandbox's
# namespace sees the program's side of it: a round trip is each time the
# program sends after having heard from the server (the delay keeps requests
# that do not wait for each other together).

seconds() { date +%s.%N; }

relay=
start_relay() {
  sed "s/^$KESTRINE_SANDBOX_DC_IP\b/127.0.0.6/" "$KESTRINE_SANDBOX_DIR/client/hosts" >"$work/relay-hosts"
  "$sandbox" exec python3 "$KESTRINE_ROOT/bench/delay_relay.py" 127.0.0.6 "$KESTRINE_SANDBOX_DC_IP" 10 \
    389 445 88 >"$work/relay.log" 2>&1 &
  relay=$!
  for _ in {1..50}; do grep -q ready "$work/relay.log" 2>/dev/null && break; sleep 0.1; done
}

stop_relay() {
  pkill -f "$KESTRINE_ROOT/bench/delay_relay.py 127.0.0.6" || true  # this tree's relay, not another's
  wait "$relay" 2>/dev/null || true
}

capture() { # label CSV: the import through the relay under a capture; writes label.counts and label.seconds
  local label=$1 csv=$2 pid start
  # The program finds the domain controller's name at the relay's address; an
  # empty lock folder hides what an earlier run cached of where the name was.
  mkdir -p "$work/relay-lock" && rm -rf "${work:?}/relay-lock/"*
  "$sandbox" exec tcpdump -B 16384 -i lo -U -w "$work/$label.pcap" \
    'host 127.0.0.6 and (port 389 or port 445 or port 88)' 2>"$work/$label.tcpdump" &
  pid=$!
  for _ in {1..50}; do grep -q 'listening on' "$work/$label.tcpdump" 2>/dev/null && break; sleep 0.1; done
  start=$(seconds)
  "$sandbox" exec unshare -m sh -c 'mount --bind "$1" /etc/hosts && mount --bind "$2" "$3" &&
    shift 3 && exec "$@"' relay "$work/relay-hosts" "$work/relay-lock" \
    "$KESTRINE_SANDBOX_DIR/client/lock" "$KESTRINE_BUILD/app/kestrine-console" "$csv" \
    >"$work/$label.log" ||
    { echo "the $label run reported failures:" >&2; tail -n 30 "$work/$label.log" >&2; exit 1; }
  awk -v a="$start" -v b="$(seconds)" 'BEGIN { print b - a }' >"$work/$label.seconds"
  sleep 0.5
  # The sandbox's exec is a script around the command: end the command itself.
  pkill -f "tcpdump .*$work/$label.pcap" || true
  wait "$pid" 2>/dev/null || true
  grep -qx '0 packets dropped by kernel' "$work/$label.tcpdump" ||
    { echo "the capture of the $label run lost packets:" >&2; cat "$work/$label.tcpdump" >&2; exit 1; }
  python3 "$KESTRINE_ROOT/bench/round_trips.py" "$work/$label.pcap" >"$work/$label.counts"
}
