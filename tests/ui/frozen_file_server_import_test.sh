#!/usr/bin/env bash
# The real program in a real X server against the sandbox domain with its file
# server frozen from before Import to after the run: the first record's folder
# step waits the 30 s once, the others fail at once, and the run ends while
# the server is still frozen. All the while the windows answer the desktop: a
# ping every second, as a window manager sends them, is answered within a
# second; clicks on the hidden main window's Import and Cancel and a key
# press there do nothing. Runs inside `scripts/sandbox-domain exec`; $1 is the build
# folder (default build/). Screenshots stay in
# <build>/tests/ui/screenshots/frozen-file-server-import/.
set -euo pipefail
# shellcheck source=../../scripts/lib/common.sh
source "$(dirname "$0")/../../scripts/lib/common.sh"
KESTRINE_BUILD=${1:-$KESTRINE_BUILD}
# shellcheck source=../../scripts/lib/walkthrough.sh
source "$KESTRINE_ROOT/scripts/lib/walkthrough.sh"

: "${KESTRINE_SANDBOX_DOMAIN_DN:?run through scripts/sandbox-domain exec}"
tag=kf$$
unit="$tag Frozen"
work=$(mktemp -d)
shots=$KESTRINE_BUILD/tests/ui/screenshots/frozen-file-server-import
rm -rf "$shots"

sandbox_domain() {
  KESTRINE_SANDBOX_NAME=$KESTRINE_SANDBOX_NETNS "$KESTRINE_ROOT/scripts/sandbox-domain" "$@"
}
cleanup() {
  stop_xvfb
  # The sandbox is shared by the integration tests that follow.
  sandbox_domain thaw smbd || echo "FAILED: could not thaw the file server" >&2
  ldapdelete -Q -Y GSSAPI -r "OU=$unit,$KESTRINE_SANDBOX_DOMAIN_DN" 2>/dev/null || true
  rm -rf "${KESTRINE_SANDBOX_SHARE_DIR:?}/$tag"* "$work"
}
trap cleanup EXIT

csv=$work/users.csv
for who in a b c; do
  echo "$tag$who,Frozen $tag$who,Frozen,Share,Frozen-$who-2026!,$unit,$KESTRINE_SANDBOX_DNS_DOMAIN,$KESTRINE_SANDBOX_DC,home,logon.cmd"
done >"$csv"

# The window manager's side: pings to the progress window while it shows, and
# during the first record's wait clicks on Import and Cancel and a Space (for
# Import, which has the focus), sent to the hidden main window as X events.
desktop() {
  wait_for_window 'Working...' 60
  local loading
  loading=$(visible_window 'Working...')
  "$KESTRINE_BUILD/tests/ui/wm-ping" "$loading" 25 >"$work/pings" 2>&1 &
  local pinging=$!
  sleep 5
  eval "$(xdotool getwindowgeometry --shell "$form1")"
  # The middles of Command1 and Command2.
  xdotool mousemove $((X + 37)) $((Y + 298)) click --window "$form1" 1 \
    mousemove $((X + 405)) $((Y + 298)) click --window "$form1" 1 key --window "$form1" space
  wait "$pinging"
}

start_xvfb
"$KESTRINE_BUILD/kestrine" &
kestrine=$!
wait_for_window Kestrine 60
form1=$(visible_window Kestrine)
sandbox_domain freeze smbd
desktop &
watcher=$!
started=$SECONDS
keyboard_import "$kestrine" "$csv" "$shots"
took=$((SECONDS - started))

failed=0
check() { # what, then the command that must succeed
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then echo "ok: $what"; else echo "FAILED: $what" >&2; failed=1; fi
}
check "every ping answered within a second, through the 30 s wait" wait "$watcher"
cat "$work/pings"
check "the run ended within 60 s (it took ${took}s), the file server still frozen" \
  test "$took" -lt 60
# Three "Cannot create" boxes and the summary: no second run, nothing twice.
check "four message boxes, one run" test "$(find "$shots" -name '*-message.png' | wc -l)" -eq 4
for who in a b c; do
  check "$tag$who is in the directory, enabled" bash -c "ldapsearch -Q -Y GSSAPI -LLL \
    -b 'OU=$unit,$KESTRINE_SANDBOX_DOMAIN_DN' '(sAMAccountName=$tag$who)' userAccountControl |
    grep -qx 'userAccountControl: 512'"
done
exit "$failed"
