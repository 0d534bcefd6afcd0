#!/usr/bin/env bash
# The real program in a real X server against the sandbox domain: a run in
# which records fail for each kind of reason, its summary box worked by
# keyboard (the details opened, selected and copied, the failed records
# saved), then the saved file mended as the summary says and imported alone.
# Runs inside `scripts/sandbox-domain exec`; $1 is the build folder (default
# build/). Screenshots stay in <build>/tests/ui/screenshots/failed-records/.
set -euo pipefail
# shellcheck source=../../scripts/lib/common.sh
source "$(dirname "$0")/../../scripts/lib/common.sh"
KESTRINE_BUILD=${1:-$KESTRINE_BUILD}
# shellcheck source=../../scripts/lib/walkthrough.sh
source "$KESTRINE_ROOT/scripts/lib/walkthrough.sh"

: "${KESTRINE_SANDBOX_DOMAIN_DN:?run through scripts/sandbox-domain exec}"
tag=kf$$
unit="$tag Failed"
work=$(mktemp -d)
shots=$KESTRINE_BUILD/tests/ui/screenshots/failed-records
rm -rf "$shots"

cleanup() {
  stop_xvfb
  ldapdelete -Q -Y GSSAPI -r "OU=$unit,$KESTRINE_SANDBOX_DOMAIN_DN" 2>/dev/null || true
  rm -rf "$KESTRINE_SANDBOX_SHARE_DIR/$tag"* "$work"
}
trap cleanup EXIT

domain=$KESTRINE_SANDBOX_DNS_DOMAIN dc=$KESTRINE_SANDBOX_DC
record() { # logon, common name, password, file server
  echo "$tag$1,$2,First $1,Last $1,$3,$unit,$domain,$4,home,logon.cmd"
}
# One that is added; a password the domain refuses; a common name that is
# taken; a control character (refused before anything is written); a file
# server that does not exist, and a short record that takes it over.
csv=$work/users.csv
{
  record a "Added $tag" Typed-a-2026! "$dc"
  record w "Weak $tag" abc "$dc"
  record c "Added $tag" Typed-c-2026! "$dc"
  printf '%s\n' "${tag}r,Tab$(printf '\t')bed $tag,R,R,Typed-r-2026!,$unit,$domain,$dc,home,x.cmd"
  record m "Mistyped $tag" Typed-m-2026! "nosuch-$tag"
  echo "${tag}s,Short $tag"
} >"$csv"
saved=$work/users-failed.csv

# The summary comes after the two folders that cannot be created.
answer_box() { # number, window
  (($1 == 3)) || return 1
  xdotool key shift+Tab shift+Tab space # Show details, which takes the focus
  sleep 0.5
  xdotool key ctrl+a ctrl+c
  sleep 0.3
  xclip -o -selection clipboard >"$work/copied.txt" || true
  local x y width height screen
  eval "$(xdotool getwindowgeometry --shell "$2" | sed -n 's/^\(X\|Y\|WIDTH\|HEIGHT\|SCREEN\)=/\L&/p')"
  "$KESTRINE_BUILD/tests/ui/x-screenshot" "$shots/summary-details.png" "$x" "$y" "$width" "$height"
  xdotool key shift+Tab shift+Tab space # Save failed records...
  wait_for_window 'Save failed records' 10
  sleep 0.5
  xdotool key Return # the name offered
  local i
  for ((i = 0; i < 50; i++)); do [[ -n $(visible_window 'Save failed records') ]] || break; sleep 0.1; done
  xdotool key Return # OK
  return 0
}

start_xvfb
"$KESTRINE_BUILD/kestrine" &
keyboard_import $! "$csv" "$shots/first"

failed=0
check "three boxes: two folders, then the summary" test "$BOXES_SEEN" = 3
copied=$(cat "$work/copied.txt" 2>/dev/null || true)
for who in w c r m s; do
  check "the copied details name ${tag}$who" grep -q "^$tag$who: " <<<"$copied"
done
check "the copied details say what a second import does" grep -qF \
  "${tag}w: set the password: " <<<"$copied"
check "... for a refused record" grep -q "^${tag}r: .*mend it in the original file$" <<<"$copied"
check "the saved file is its owner's alone" test "$(stat -c %a "$saved")" = 600
expected=$work/expected.csv
{
  printf '\xEF\xBB\xBF'
  record w "Weak $tag" abc "$dc"
  record c "Added $tag" Typed-c-2026! "$dc"
  record m "Mistyped $tag" Typed-m-2026! "nosuch-$tag"
  record m "Mistyped $tag" Typed-m-2026! "nosuch-$tag" | sed "s/^${tag}m,Mistyped $tag/${tag}s,Short $tag/"
} >"$expected"
check "the failed records saved as the run used them" cmp "$saved" "$expected"

# Mended as the summary says: a strong password, a free name, the right
# server; the disabled account and its home folder deleted first.
sed -i -e "s/,abc,/,Mended-w-2026!,/" -e "s/^${tag}c,Added $tag,/${tag}c,Taken $tag,/" \
  -e "s/,nosuch-$tag,/,$dc,/" "$saved"
ldapdelete -Q -Y GSSAPI "CN=Weak $tag,OU=$unit,$KESTRINE_SANDBOX_DOMAIN_DN"
rm -rf "${KESTRINE_SANDBOX_SHARE_DIR:?}/${tag}w"

# Nothing is left to tell: no box.
answer_box() { return 1; }
"$KESTRINE_BUILD/kestrine" &
keyboard_import $! "$saved" "$shots/second"
check "importing the mended records again shows no box" test "$BOXES_SEEN" = 0
for who in a w c m s; do
  check_imported_account "$tag$who" "$unit"
done
exit "$failed"
