#!/usr/bin/env bash
# Runs the Windows platform layer's self-check under Wine, with a home folder
# that holds what no Windows call under Wine can make: a symbolic link that
# points up (Wine shows a Unix link to a folder as a reparse point).
#   self_check.sh WIN32_SELF_CHECK_EXE
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/sub"
ln -s .. "$work/home/sub/up"
wine "$1" "$(winepath -w "$work/home" 2>/dev/null)"
