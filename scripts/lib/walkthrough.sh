# Works Kestrine's windows by keyboard on an X display, as an administrator
# would, and keeps a screenshot of every window that appears.
# shellcheck shell=bash

# xclip reads the clipboard back.
KESTRINE_X_PACKAGES=(xvfb xdotool xclip)

# Starts Xvfb on a free display; sets DISPLAY and XVFB_PID.
start_xvfb() {
  local fd_file
  fd_file=$(mktemp)
  Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$fd_file" 2>/dev/null &
  XVFB_PID=$!
  local i
  for ((i = 0; i < 100; i++)); do
    [[ -s $fd_file ]] && break
    sleep 0.1
  done
  [[ -s $fd_file ]] || { echo "Xvfb did not start" >&2; return 1; }
  DISPLAY=:$(head -n 1 "$fd_file")
  export DISPLAY
  # Qt wants a private runtime folder; a bare server session has none.
  if [[ -z ${XDG_RUNTIME_DIR:-} ]]; then
    XDG_RUNTIME_DIR=$(mktemp -d)
    export XDG_RUNTIME_DIR
  fi
  rm -f "$fd_file"
}

stop_xvfb() {
  [[ -n ${XVFB_PID:-} ]] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
  XVFB_PID=
}

# The id of a visible window with exactly the title $1, other than window $2.
visible_window() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -v -x -e "${2:-none}" | head -n 1
}

# Waits up to $2 seconds for a visible window with the title $1.
wait_for_window() {
  local title=$1 seconds=${2:-30} i
  for ((i = 0; i < seconds * 10; i++)); do
    [[ -n $(visible_window "$title") ]] && return 0
    sleep 0.1
  done
  echo "no window titled '$title' appeared within ${seconds}s" >&2
  return 1
}

# keyboard_import PID CSV SHOT_DIR [ANSWER_DELAY]: with Kestrine (process PID)
# showing its main window, types the CSV path into FilePath, goes back to
# Import with Shift+Tab and presses it, answers every message box with OK
# (after ANSWER_DELAY seconds, as an administrator who looks away; default 0),
# and presses Done in the completion window. Screenshots:
# SHOT_DIR/NN-<window>.png. Fails unless the program ends by itself with exit
# status 0. A caller may define answer_box to answer a box itself: it gets
# the box's number in the run (from 1) and its window, and returns 0 when it
# has answered it; BOXES_SEEN counts the boxes.
keyboard_import() {
  local pid=$1 csv=$2 shots=$3 answer_delay=${4:-0} n=1 loading_shot=0 i
  BOXES_SEEN=0
  local screenshot=$KESTRINE_BUILD/tests/ui/x-screenshot
  mkdir -p "$shots"
  # A caller may define window_seen to look at each window when it is shot.
  shot() {
    "$screenshot" "$shots/$(printf '%02d' "$n")-$1.png" && n=$((n + 1))
    if declare -F window_seen >/dev/null; then window_seen "$1"; fi
  }

  wait_for_window Kestrine 60
  local form1
  form1=$(visible_window Kestrine)
  sleep 0.3 # the first paint
  shot form1
  xdotool type --delay 10 "$csv"
  shot form1-path
  xdotool key shift+Tab
  xdotool key space

  # Long enough for a server that has stopped, which costs about 2.5 minutes.
  for ((i = 0; i < 3000; i++)); do
    kill -0 "$pid" 2>/dev/null || { echo "Kestrine ended before its completion window" >&2; return 1; }
    if [[ -n $(visible_window 'Dialog Caption') ]]; then
      sleep 0.3
      shot complete
      break
    fi
    # Message boxes carry the application's title, as the main window does.
    local box
    box=$(visible_window Kestrine "$form1") || true
    if [[ -n $box ]]; then
      sleep 0.3
      shot message
      sleep "$answer_delay"
      # Without a window manager Wine leaves the X focus where it was; the
      # administrator would click on the box first.
      if [[ -n ${KESTRINE_FOCUS_BOXES:-} ]]; then
        xdotool windowfocus --sync "$box" 2>/dev/null || true
      fi
      BOXES_SEEN=$((BOXES_SEEN + 1))
      if ! declare -F answer_box >/dev/null || ! answer_box "$BOXES_SEEN" "$box"; then
        xdotool key Return
      fi
      # One Return per box: wait for this one to go, which under Wine takes
      # a moment, before looking for the next.
      local gone
      for ((gone = 0; gone < 100; gone++)); do
        xdotool search --onlyvisible --name '^Kestrine$' 2>/dev/null | grep -qx -e "$box" || break
        sleep 0.1
      done
      continue
    fi
    if ((loading_shot == 0)) && [[ -n $(visible_window 'Working...') ]]; then
      shot loading
      loading_shot=1
    fi
    sleep 0.1
  done
  [[ -n $(visible_window 'Dialog Caption') ]] || { echo "the completion window never appeared" >&2; return 1; }
  xdotool key space
  local status=0
  for ((i = 0; i < 100; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "Kestrine is still running after Done" >&2
    return 1
  fi
  wait "$pid" || status=$?
  ((status == 0)) || { echo "Kestrine ended with status $status" >&2; return 1; }
}

# Starts Xvfb and, for $WINEPREFIX, a wineserver that stays until
# stop_wine_display: Wine's desktop opens on the display of the first program
# of a session, so a session left from a run without that display is ended
# first.
start_wine_display() {
  : "${WINEPREFIX:?set WINEPREFIX}"
  timeout 30 wineserver -k 2>/dev/null || true
  start_xvfb
  wineserver -p
}

stop_wine_display() {
  timeout 30 wineserver -k 2>/dev/null || true
  stop_xvfb
}

# Checks of what a walkthrough imported, from outside the program: each
# prints ok or FAILED, and a failure sets `failed` to 1.
check() { # what, then the command that must succeed
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then echo "ok: $what"; else echo "FAILED: $what" >&2; failed=1; fi
}

# The account is in its unit and enabled, and its home folder on the sandbox
# share grants full control to Administrators and to the account, and to
# nobody else.
check_imported_account() { # account unit
  local account=$1 unit=$2 acl
  check "$account is in the directory, enabled" bash -c "ldapsearch -Q -Y GSSAPI -LLL \
    -b 'OU=$unit,$KESTRINE_SANDBOX_DOMAIN_DN' '(sAMAccountName=$account)' userAccountControl |
    grep -qx 'userAccountControl: 512'"
  acl=$(smbcacls --use-krb5-ccache="$KRB5CCNAME" "//$KESTRINE_SANDBOX_DC/$KESTRINE_SANDBOX_SHARE" \
    "$account" 2>&1 || true)
  check "$account's folder: Administrators have full control" \
    grep -qx 'ACL:BUILTIN\\Administrators:ALLOWED/OI|CI/FULL' <<<"$acl"
  check "$account's folder: the account has full control" \
    grep -qx "ACL:$KESTRINE_SANDBOX_WORKGROUP\\\\$account:ALLOWED/OI|CI/FULL" <<<"$acl"
  check "$account's folder: nothing else" test "$(grep -c '^ACL:' <<<"$acl")" -eq 2
}
