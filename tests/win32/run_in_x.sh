#!/usr/bin/env bash
# Runs a command (a Windows program under Wine) on an X display of its own:
# a fresh Xvfb and a wineserver started for it, so that Wine's desktop opens on
# that display and not on one a previous Wine session had. WINEPREFIX comes
# from the caller.
#   run_in_x.sh COMMAND [ARG...]
set -euo pipefail
# shellcheck source=../../scripts/lib/common.sh
source "$(dirname "$0")/../../scripts/lib/common.sh"
# shellcheck source=../../scripts/lib/walkthrough.sh
source "$KESTRINE_ROOT/scripts/lib/walkthrough.sh"

start_wine_display
trap stop_wine_display EXIT
status=0
timeout 240 "$@" || status=$?
exit "$status"
