#!/usr/bin/env bash
# The real program in a real X server against the sandbox domain: an import
# worked by keyboard alone, then the accounts checked in the directory and the
# home folders on the share. Runs inside `scripts/sandbox-domain exec`.
# Screenshots stay in build/tests/ui/screenshots/keyboard-import/.
set -euo pipefail
# shellcheck source=../../scripts/lib/common.sh
source "$(dirname "$0")/../../scripts/lib/common.sh"
# shellcheck source=../../scripts/lib/walkthrough.sh
source "$KESTRINE_ROOT/scripts/lib/walkthrough.sh"

: "${KESTRINE_SANDBOX_DOMAIN_DN:?run through scripts/sandbox-domain exec}"
tag=kx$$
unit="$tag Keys"
work=$(mktemp -d)
shots=$KESTRINE_BUILD/tests/ui/screenshots/keyboard-import
rm -rf "$shots"

cleanup() {
  stop_xvfb
  ldapdelete -Q -Y GSSAPI -r "OU=$unit,$KESTRINE_SANDBOX_DOMAIN_DN" 2>/dev/null || true
  rm -rf "$KESTRINE_SANDBOX_SHARE_DIR/$tag"* "$work"
}
trap cleanup EXIT

csv=$work/users.csv
for who in a b; do
  echo "$tag$who,Key Board $tag$who,Key,Board,Typed-$who-2026!,$unit,$KESTRINE_SANDBOX_DNS_DOMAIN,$KESTRINE_SANDBOX_DC,home,logon.cmd"
done >"$csv"

start_xvfb
"$KESTRINE_BUILD/kestrine" &
keyboard_import $! "$csv" "$shots"

failed=0
[[ -f $shots/01-form1.png && -n $(ls "$shots"/*-complete.png 2>/dev/null) ]] ||
  { echo "FAILED: screenshots of the main and completion windows" >&2; failed=1; }
for who in a b; do
  account=$tag$who
  check_imported_account "$account" "$unit"
done
exit "$failed"
