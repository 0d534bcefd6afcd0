#!/usr/bin/env bash
# The real program in Xvfb against the sandbox domain with its file server
# frozen from before Import, with the program's own times: the first record's
# folder creation waits 30 s for the sign-in (no create goes out to a server
# that never answered, so none is awaited longer) and shows its "Cannot
# create" box; the next
# record's waits for the server's hold to end while the progress window says
# so and asks again, unanswered, the same cause and no box; the third waits
# and asks once more, and with that the server has gone 2 minutes without an
# answer: the rest fail at once, and the run ends (the server still frozen) after about 2.5 minutes. A ping every
# second, as a window manager sends, is answered within a second all along,
# and clicks on the hidden main window's Import and Cancel and a key press
# there do nothing. Runs inside `scripts/sandbox-domain exec`.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib/common.sh"
KESTRINE_BUILD=${1:-$KESTRINE_BUILD}
source "$KESTRINE_ROOT/scripts/lib/walkthrough.sh"

: "${KESTRINE_SANDBOX_DOMAIN_DN:?run through scripts/sandbox-domain exec}"
tag=kf$$ unit="kf$$ Frozen" work=$(mktemp -d)
shots=$KESTRINE_BUILD/tests/ui/screenshots/frozen-file-server-import
rm -rf "$shots"
sandbox_domain() { KESTRINE_SANDBOX_NAME=$KESTRINE_SANDBOX_NETNS "$KESTRINE_ROOT/scripts/sandbox-domain" "$@"; }
cleanup() {
  stop_xvfb
  sandbox_domain thaw smbd || echo "FAILED: could not thaw the file server" >&2
  ldapdelete -Q -Y GSSAPI -r "OU=$unit,$KESTRINE_SANDBOX_DOMAIN_DN" 2>/dev/null || true
  rm -rf "${KESTRINE_SANDBOX_SHARE_DIR:?}/$tag"* "$work"
}
trap cleanup EXIT
for who in a b c; do
  echo "$tag$who,Frozen $tag$who,F,S,Frozen-$who-2026!,$unit,$KESTRINE_SANDBOX_DNS_DOMAIN,$KESTRINE_SANDBOX_DC,home,x"
done >"$work/users.csv"

# Pings while the progress window shows; 5 s into the wait, X events to the
# hidden main window: clicks on Command1 and Command2, a Space (for Command1).
# The progress window is shot while the first record's folder step waits for
# the server's answer (15 s in), while the second's waits for the end of the
# hold (45 s) and for its answer again (75 s).
desktop() {
  wait_for_window 'Working...' 60
  local started=$SECONDS
  "$KESTRINE_BUILD/tests/ui/wm-ping" "$(visible_window 'Working...')" 140 &
  sleep 5
  eval "$(xdotool getwindowgeometry --shell "$form1")"
  xdotool mousemove $((X + 37)) $((Y + 298)) click --window "$form1" 1 \
    mousemove $((X + 405)) $((Y + 298)) click --window "$form1" 1 key --window "$form1" space
  for at in 15 45 75; do
    ((started + at > SECONDS)) && sleep $((started + at - SECONDS))
    "$KESTRINE_BUILD/tests/ui/x-screenshot" "$work/waiting-$at.png"
  done
  wait $!
}

start_xvfb
"$KESTRINE_BUILD/kestrine" &
kestrine=$!
wait_for_window Kestrine 60
form1=$(visible_window Kestrine)
sandbox_domain freeze smbd
desktop &
desktop=$!
keyboard_import "$kestrine" "$work/users.csv" "$shots"

differ() { ! cmp -s "$1" "$2"; }
failed=0
check "every ping answered within a second" wait "$desktop"
check "the run ended after about 2.5 minutes, the file server still frozen (${SECONDS}s)" \
  test $SECONDS -ge 150 -a $SECONDS -lt 220
# The first record's "Cannot create" box and the summary: one box per cause.
check "two message boxes" test "$(find "$shots" -name '*-message.png' | wc -l)" -eq 2
check "the progress text gives way to the wait for the server" \
  differ "$work/waiting-15.png" "$work/waiting-45.png"
check "and comes back after it" differ "$work/waiting-45.png" "$work/waiting-75.png"
cp "$work"/waiting-*.png "$shots/"
exit "$failed"
