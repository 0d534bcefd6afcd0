#!/usr/bin/env bash
# kestrine.exe under Wine on an Xvfb display, worked by keyboard: Wine cannot
# bind to the directory, so every record fails; the summary's details are
# opened, selected and copied, the failed records saved with the Windows save
# dialog, and the saved file is then imported with the Windows layers against
# the sandbox domain (wine_import_run, as win32.import_under_wine does).
# Runs inside `scripts/sandbox-domain exec`.
#   failed_records_test.sh WINE_IMPORT_RUN_EXE
set -euo pipefail
# shellcheck source=../../scripts/lib/common.sh
source "$(dirname "$0")/../../scripts/lib/common.sh"
# shellcheck source=../../scripts/lib/walkthrough.sh
source "$KESTRINE_ROOT/scripts/lib/walkthrough.sh"

: "${KESTRINE_SANDBOX_DOMAIN_DN:?run through scripts/sandbox-domain exec}"
: "${WINEPREFIX:=$KESTRINE_WINDOWS_BUILD/wine}"
export WINEPREFIX WINEDEBUG=-all
import_run=$1
tag=wf$$
unit="$tag Wine"
shots=$KESTRINE_WINDOWS_BUILD/tests/screenshots/failed-records
work=$(mktemp -d "$WINEPREFIX/drive_c/kestrine-failed.XXXXXX")
share=$work/share
mapping=$WINEPREFIX/dosdevices/unc/fs-wine
rm -rf "$shots"

cleanup() {
  stop_wine_display
  ldapdelete -Q -Y GSSAPI -r "OU=$unit,$KESTRINE_SANDBOX_DOMAIN_DN" 2>/dev/null || true
  rm -rf "$work" "$mapping"
}
trap cleanup EXIT
mkdir -p "$share" "$mapping"
ln -sfn "$share" "$mapping/home\$"

# Two full records, a refused one (a control character), a short one.
full() { echo "$tag$1,Wine $tag$1,First,Last,Wine-$1-2026!,$unit,$KESTRINE_SANDBOX_DNS_DOMAIN,fs-wine,home,logon.cmd"; }
{
  full a
  printf '%s\n' "${tag}r,Bell$(printf '\a') $tag,R,R,Wine-r-2026!,$unit"
  full b
  echo "${tag}s,Short $tag"
} | sed 's/$/\r/' >"$work/users.csv"

answer_box() { # number, window: the summary is the only box
  ((${1} == 1)) || return 1
  xdotool key shift+Tab shift+Tab space # Show details, which takes the focus
  sleep 1
  xdotool key ctrl+a ctrl+c
  sleep 1
  xclip -o -selection clipboard >"$work/copied.txt" 2>/dev/null || true
  shot summary-details
  xdotool key shift+Tab shift+Tab space # Save failed records...
  wait_for_window 'Save failed records' 30
  local dialog i
  dialog=$(visible_window 'Save failed records')
  sleep 1
  xdotool windowfocus --sync "$dialog" 2>/dev/null || true
  xdotool key Return # the name offered
  for ((i = 0; i < 100; i++)); do [[ -n $(visible_window 'Save failed records') ]] || break; sleep 0.1; done
  xdotool windowfocus --sync "$2" 2>/dev/null || true
  xdotool key Return # OK
  return 0
}

start_wine_display
export KESTRINE_FOCUS_BOXES=1
timeout 240 wine "$KESTRINE_WINDOWS_BUILD/kestrine.exe" &
keyboard_import $! "c:\\$(basename "$work")\\users.csv" "$shots"
stop_wine_display

failed=0
copied=$(tr -d '\r' <"$work/copied.txt" 2>/dev/null || true)
for who in a r b s; do
  check "the copied details name $tag$who" grep -q "^$tag$who: " <<<"$copied"
done
expected=$work/expected.csv
{
  printf '\xEF\xBB\xBF'
  full a
  full b
  full b | sed "s/^${tag}b,Wine ${tag}b,/${tag}s,Short $tag,/"
} | sed 's/$/\r/' >"$expected"
check "the failed records saved with CR LF, as the run used them" cmp "$work/users-failed.csv" "$expected"

# The saved file alone, with the Windows layers against the sandbox.
export LDAPTLS_CACERT=$KESTRINE_SANDBOX_DIR/private/tls/ca.pem
cp "$KESTRINE_SANDBOX_ADMIN_PASSWORD_FILE" "$work/password"
status=0
timeout 300 wine "$import_run" "$(winepath -w "$work/users-failed.csv")" "$KESTRINE_SANDBOX_DC" \
  "Administrator@$KESTRINE_SANDBOX_DNS_DOMAIN" "$(winepath -w "$work/password")" \
  >"$work/again.txt" 2>&1 || status=$?
cat "$work/again.txt"
check "importing them again succeeds" test "$status" = 0
check "... adds the three records" grep -qx \
  "complete: 3 Users and Folders were added successfully!" <(tr -d '\r' <"$work/again.txt")
check "... and reports nothing else" test "$(grep -c '^message' "$work/again.txt")" = 0
for who in a b s; do
  check "$tag$who signs in" env KRB5CCNAME="FILE:$work/cc-$who" \
    kinit "$tag$who@$KESTRINE_SANDBOX_REALM" < <(echo "Wine-${who/s/b}-2026!")
done
exit "$failed"
