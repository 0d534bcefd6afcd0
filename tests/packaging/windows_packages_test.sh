#!/usr/bin/env bash
# The Windows packages: the zip's contents, and the installer run silently
# under Wine, into Program Files and into a folder of the user's choice, and
# uninstalled silently the way Add/Remove Programs does it.
#   windows_packages_test.sh ZIP INSTALLER PROGRAM VERSION FOUR-PART-VERSION VERSION-CHECK
# WINEPREFIX names the build's Wine prefix; the installs go to a copy of it.
set -euo pipefail
zip=$1 installer=$2 program=$3 version=$4 four_parts=$5 version_check=$6

work=$(mktemp -d)
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The zip: one folder with the program, the license and the README, nothing else.
folder=Kestrine-$version-win64
mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$zip")
listing=$(cd "$work/zip" && find . -type f | sort)
[[ $listing == "./$folder/LICENSE.txt"$'\n'"./$folder/README.txt"$'\n'"./$folder/kestrine.exe" ]] ||
  fail "the zip holds:"$'\n'"$listing"
cmp -s "$work/zip/$folder/kestrine.exe" "$program" || fail "the zip's kestrine.exe is not $program"
readme=$work/zip/$folder/README.txt
grep -q "Kestrine $version " "$readme" || fail "README.txt does not name version $version"
license=$work/zip/$folder/LICENSE.txt
grep -q "GNU GENERAL PUBLIC LICENSE" "$license" || fail "LICENSE.txt is not the GPL"
for text in "$readme" "$license"; do
  [[ $(grep -c $'\r$' "$text") == $(wc -l <"$text") ]] || fail "$(basename "$text") has lines without CR LF"
done

# A prefix of its own, so that the build's stays clean and a failed run
# leaves nothing behind; no menu entries on this machine for the shortcuts.
cp -a "$WINEPREFIX" "$work/wine"
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
trap 'timeout 30 wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
timeout 60 wineserver -p
drive_c=$WINEPREFIX/drive_c
shortcut="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Kestrine.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrine'

# The value NAME of the uninstall entry; fails when there is none.
entry() {
  local output
  output=$(timeout 60 wine reg query "$key" /v "$1" 2>/dev/null) || return 1
  tr -d '\r' <<<"$output" | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}

timeout 60 wine "$version_check" "Z:$installer" "$four_parts" ProductName=Kestrine \
  "ProductVersion=$version" || fail "the installer's own version"

# Installs with ARGS..., checks the result against the folder DIR (Windows and
# Unix paths), uninstalls and checks that all of it is gone.
install_and_uninstall() {
  local windows_dir=$1 dir=$2
  shift 2
  timeout 120 wine "$installer" /S "$@" || {
    fail "the installer /S $* ended with status $?"
    return
  }
  for file in kestrine.exe kestrine.ico README.txt LICENSE.txt uninstall.exe; do
    [[ -f $dir/$file ]] || fail "no $file in $windows_dir"
  done
  cmp -s "$dir/kestrine.exe" "$program" || fail "the installed kestrine.exe is not $program"
  cmp -s "$dir/LICENSE.txt" "$license" || fail "the installed LICENSE.txt is not the zip's"
  [[ -f $shortcut ]] || fail "no Start menu shortcut"
  # The shortcut's link information holds the target's path in the ANSI code page.
  grep -qaF "$windows_dir\\kestrine.exe" "$shortcut" ||
    fail "the shortcut does not start $windows_dir\\kestrine.exe"

  local name value
  for name in DisplayName DisplayVersion InstallLocation DisplayIcon UninstallString \
    QuietUninstallString; do
    case $name in
      DisplayName) value=Kestrine ;;
      DisplayVersion) value=$version ;;
      InstallLocation) value=$windows_dir ;;
      DisplayIcon) value=$windows_dir\\kestrine.ico ;;
      UninstallString) value="\"$windows_dir\\uninstall.exe\"" ;;
      QuietUninstallString) value="\"$windows_dir\\uninstall.exe\" /S" ;;
    esac
    [[ $(entry "$name") == "$value" ]] ||
      fail "uninstall entry $name: \"$(entry "$name" || echo missing)\", wanted \"$value\""
  done
  [[ $(entry EstimatedSize) =~ ^0x[0-9a-f]+$ && $(entry EstimatedSize) != 0x0 ]] ||
    fail "uninstall entry EstimatedSize: $(entry EstimatedSize || echo missing)"

  # What Add/Remove Programs runs for a silent removal. The uninstaller runs on
  # as a copy of itself from the temporary folder after this returns, and
  # removes the entry last: wait for that.
  timeout 120 wine "$windows_dir\\uninstall.exe" /S || fail "the uninstaller ended with status $?"
  local deadline=$((SECONDS + 60))
  while entry DisplayName >/dev/null && ((SECONDS < deadline)); do sleep 1; done
  entry DisplayName >/dev/null && fail "the uninstall entry is still there"
  for file in kestrine.exe kestrine.ico README.txt LICENSE.txt uninstall.exe; do
    [[ ! -e $dir/$file ]] || fail "$windows_dir\\$file is still there"
  done
  [[ ! -e $shortcut ]] || fail "the Start menu shortcut is still there"
}

install_and_uninstall 'C:\Program Files\Kestrine' "$drive_c/Program Files/Kestrine"
[[ ! -e $drive_c/Program\ Files/Kestrine ]] || fail "C:\\Program Files\\Kestrine is still there"

# Into a folder that holds a file of the user's: the file and so the folder stay.
mkdir -p "$drive_c/Tools/Kestrine"
echo notes >"$drive_c/Tools/Kestrine/notes.txt"
install_and_uninstall 'C:\Tools\Kestrine' "$drive_c/Tools/Kestrine" '/D=C:\Tools\Kestrine'
[[ -f $drive_c/Tools/Kestrine/notes.txt ]] || fail "uninstalling removed the user's notes.txt"

((failures == 0)) || exit 1
echo "$(basename "$zip") and $(basename "$installer"): contents, install and uninstall as they should be"
