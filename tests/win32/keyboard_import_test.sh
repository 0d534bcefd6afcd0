#!/usr/bin/env bash
# kestrine.exe under Wine on an Xvfb display, worked by keyboard as the Linux
# program is (scripts/lib/walkthrough.sh). Wine cannot bind to a directory (it
# has no Negotiate), so every record fails: the test follows the whole window
# flow with the directory out of reach, reading the windows' texts with
# window_texts.exe. Screenshots stay in build-windows/tests/screenshots/.
#   keyboard_import_test.sh WINDOW_TEXTS_EXE
set -euo pipefail
# shellcheck source=../../scripts/lib/common.sh
source "$(dirname "$0")/../../scripts/lib/common.sh"
# shellcheck source=../../scripts/lib/walkthrough.sh
source "$KESTRINE_ROOT/scripts/lib/walkthrough.sh"

window_texts=$1
: "${WINEPREFIX:=$KESTRINE_WINDOWS_BUILD/wine}"
export WINEPREFIX WINEDEBUG=-all
[[ -x $KESTRINE_BUILD/tests/ui/x-screenshot ]] ||
  { echo "build the Linux tree first: it has the screenshot tool" >&2; exit 1; }
shots=$KESTRINE_WINDOWS_BUILD/tests/screenshots/keyboard-import
texts=$(mktemp)
work=$(mktemp -d "$WINEPREFIX/drive_c/kestrine-keys.XXXXXX")
rm -rf "$shots"

cleanup() {
  stop_wine_display
  rm -rf "$work" "$texts"
}
trap cleanup EXIT

for who in a b; do
  printf '%s\r\n' "kw$who,Key Board $who,Key,Board,Typed-$who-2026!,Keys,example.invalid,fs1,home,logon.cmd"
done >"$work/users.csv"

# Called by keyboard_import after each screenshot: what the windows say.
window_seen() {
  case $1 in
    message) timeout 30 wine "$window_texts" Working... >>"$texts" 2>/dev/null || true
      timeout 30 wine "$window_texts" Kestrine >>"$texts" 2>/dev/null || true ;;
    complete) timeout 30 wine "$window_texts" 'Dialog Caption' >>"$texts" 2>/dev/null || true ;;
  esac
}

start_wine_display
export KESTRINE_FOCUS_BOXES=1
timeout 240 wine "$KESTRINE_WINDOWS_BUILD/kestrine.exe" &
keyboard_import $! "c:\\$(basename "$work")\\users.csv" "$shots"

failed=0
expect() { # what, then a fixed line that the windows must have shown
  if tr -d '\r' <"$texts" | grep -qxF -- "$2"; then echo "ok: $1"; else echo "FAILED: $1" >&2; failed=1; fi
}
# No record reaches the directory, so no box stops the run before the summary:
# by then the progress window shows the last record's last step.
expect "progress text of the last record" 'Creating Share: \\fs1\home$\kwb'
expect "completion text" "0 Users and Folders were added successfully! 2 failed."
grep -q "kwa" "$texts" && grep -q "kwb" "$texts" ||
  { echo "FAILED: the failure summary names both accounts" >&2; failed=1; }
for window in form1 message complete; do
  [[ -n $(ls "$shots"/*-"$window".png 2>/dev/null) ]] ||
    { echo "FAILED: a screenshot of $window" >&2; failed=1; }
done
((failed == 0)) || { echo "what the windows said:" >&2; cat "$texts" >&2; }
exit "$failed"
