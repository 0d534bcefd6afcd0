#!/usr/bin/env bash
# The real program in a real X server against the sandbox domain, with the
# LDAP server's idle timeout lowered below the time the administrator takes to
# answer a message box: the server drops the idle connection while the first
# record's "Cannot create" box is up, and the records after it are still
# created. Runs inside `scripts/sandbox-domain exec`; $1 is the build folder
# (default build/). Screenshots stay in <build>/tests/ui/screenshots/idle-timeout-import/.
set -euo pipefail
# shellcheck source=../../scripts/lib/common.sh
source "$(dirname "$0")/../../scripts/lib/common.sh"
KESTRINE_BUILD=${1:-$KESTRINE_BUILD}
# shellcheck source=../../scripts/lib/walkthrough.sh
source "$KESTRINE_ROOT/scripts/lib/walkthrough.sh"

: "${KESTRINE_SANDBOX_DOMAIN_DN:?run through scripts/sandbox-domain exec}"
readonly IDLE_SECONDS=5 ANSWER_DELAY=9
tag=ki$$
unit="$tag Idle"
work=$(mktemp -d)
shots=$KESTRINE_BUILD/tests/ui/screenshots/idle-timeout-import
rm -rf "$shots"

sandbox_domain() {
  KESTRINE_SANDBOX_NAME=$KESTRINE_SANDBOX_NETNS "$KESTRINE_ROOT/scripts/sandbox-domain" "$@"
}
saved_idle=$(sandbox_domain idle-timeout)
[[ -n $saved_idle ]] || { echo "FAILED: no idle timeout to restore" >&2; exit 1; }

cleanup() {
  stop_xvfb
  # The sandbox is shared by the integration tests that follow.
  sandbox_domain idle-timeout "$saved_idle" ||
    echo "FAILED: could not restore the idle timeout to $saved_idle" >&2
  ldapdelete -Q -Y GSSAPI -r "OU=$unit,$KESTRINE_SANDBOX_DOMAIN_DN" 2>/dev/null || true
  rm -rf "${KESTRINE_SANDBOX_SHARE_DIR:?}/$tag"* "$work"
}
trap cleanup EXIT
sandbox_domain idle-timeout "$IDLE_SECONDS"

csv=$work/users.csv
for who in a b c; do
  server=$KESTRINE_SANDBOX_DC
  [[ $who == a ]] && server=nohost.invalid
  echo "$tag$who,Idle Wait $tag$who,Idle,Wait,Waited-$who-2026!,$unit,$KESTRINE_SANDBOX_DNS_DOMAIN,$server,home,logon.cmd"
done >"$csv"

start_xvfb
"$KESTRINE_BUILD/kestrine" &
keyboard_import $! "$csv" "$shots" "$ANSWER_DELAY"

failed=0
check "a message box was answered late" test -n "$(ls "$shots"/*-message.png 2>/dev/null)"
for who in b c; do
  account=$tag$who
  check_imported_account "$account" "$unit"
done
exit "$failed"
