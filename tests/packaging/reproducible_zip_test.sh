#!/usr/bin/env bash
# Two builds of one commit give the same zip: the program is linked again and
# the packages made again, later, in another time zone and with another umask,
# and the zip must keep its bytes, with its entries in name order.
# It rebuilds in the build tree, so it runs alone.
#   reproducible_zip_test.sh BUILD-DIR ZIP PROGRAM
set -euo pipefail
build=$1 zip=$2 program=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$zip" "$work/first.zip"

rm -f "$program" "$zip"
# DOS times count in steps of two seconds.
sleep 2
(umask 027 && TZ=Asia/Tokyo cmake --build "$build" --target kestrine_windows_packages >"$work/build.log" 2>&1) || {
  cat "$work/build.log" >&2
  exit 1
}

entries=$(python3 -c 'import sys, zipfile; print(*zipfile.ZipFile(sys.argv[1]).namelist(), sep="\n")' "$zip")
if [[ $entries != "$(LC_ALL=C sort <<<"$entries")" ]]; then
  echo "FAIL: the zip's entries are not in name order:"$'\n'"$entries" >&2
  exit 1
fi
if ! cmp "$work/first.zip" "$zip"; then
  echo "FAIL: $(basename "$zip") differs from the one built before" >&2
  exit 1
fi
echo "$(basename "$zip"): the same bytes from two builds"
