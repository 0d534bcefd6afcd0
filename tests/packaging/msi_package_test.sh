#!/usr/bin/env bash
# The Windows Installer package: its tables as msiinfo reads them, then, under
# Wine in a fresh prefix of its own and on an X display of its own, a silent
# install, the installed program started from its Start menu shortcut, a
# package of a later version installed over it, an older one refused, a silent
# removal that leaves no file behind, and the package refused where the setup
# program has installed Kestrine.
#   msi_package_test.sh MSI ZIP SETUP ICON VERSION WIXL-COMMAND...
# WIXL-COMMAND makes the package but for "-D Version=... -o FILE": the later
# version is made with it from the same files.
set -euo pipefail
# shellcheck source=../../scripts/lib/common.sh
source "$(dirname "$0")/../../scripts/lib/common.sh"
# shellcheck source=../../scripts/lib/walkthrough.sh
source "$KESTRINE_ROOT/scripts/lib/walkthrough.sh"
msi=$1 zip=$2 setup=$3 icon=$4 version=$5
shift 5
wixl_command=("$@")

for tool in msiinfo wine wineboot wineserver Xvfb xdotool; do
  command -v "$tool" >/dev/null || {
    echo "$tool is missing (scripts/test installs it)" >&2
    exit 1
  }
done

work=$(mktemp -d)
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The rows of TABLE in package MSI, tab-separated, without the header lines.
table() { msiinfo export "$1" "$2" | tail -n +4 | tr -d '\r'; }
property() { table "$1" Property | awk -F'\t' -v name="$2" '$1 == name { print $2 }'; }

# A later version (the minor number one up) from the same files.
IFS=. read -r major minor _ <<<"$version"
next=$major.$((minor + 1))
next_msi=$work/Kestrine-$next-win64.msi
"${wixl_command[@]}" -D "Version=$next" -o "$next_msi" || {
  echo "FAIL: no package of version $next" >&2
  exit 1
}

# The tables. For all users (ALLUSERS=1) and 64-bit, so into Program Files;
# the files each the key path of a component of their own; the shortcut in
# the Start menu; a fixed UpgradeCode with a new ProductCode per package;
# every other version removed first, except a newer one, which stops the
# install; nothing written anywhere else.
[[ $(msiinfo suminfo "$msi") == *"Template: x64;1033"* ]] || fail "the package is not for x64"
for name in ALLUSERS=1 ProductName=Kestrine Manufacturer=Kestrine ProductVersion="$version" \
  ARPPRODUCTICON=kestrine.ico REBOOT=ReallySuppress; do
  [[ $(property "$msi" "${name%%=*}") == "${name#*=}" ]] ||
    fail "property ${name%%=*}: \"$(property "$msi" "${name%%=*}")\", wanted \"${name#*=}\""
done
[[ $(table "$msi" Directory | grep -P '^INSTALLDIR\t') == $'INSTALLDIR\tProgramFiles64Folder\tKestrine' ]] ||
  fail "INSTALLDIR: $(table "$msi" Directory | grep -P '^INSTALLDIR\t')"
# Component, directory, attributes (0x100: 64-bit) and key path.
components=$(table "$msi" Component | cut -f 1,3,4,6 | LC_ALL=C sort)
[[ $components == $'License\tINSTALLDIR\t256\tLICENSE.txt\nProgram\tINSTALLDIR\t256\tkestrine.exe\nReadme\tINSTALLDIR\t256\tREADME.txt' ]] ||
  fail "components:"$'\n'"$components"
# Directory, name, component and target.
shortcut=$(table "$msi" Shortcut | cut -f 2-5)
[[ $shortcut == $'ProgramMenuFolder\tKestrine\tProgram\t[#kestrine.exe]' ]] || fail "shortcut: $shortcut"
upgrade_code=$(property "$msi" UpgradeCode)
[[ $upgrade_code =~ ^\{[0-9A-F-]{36}\}$ && $(property "$next_msi" UpgradeCode) == "$upgrade_code" ]] ||
  fail "UpgradeCode $upgrade_code, $(property "$next_msi" UpgradeCode) in version $next"
product_code=$(property "$msi" ProductCode)
next_product_code=$(property "$next_msi" ProductCode)
[[ $product_code != "$next_product_code" ]] || fail "versions $version and $next share ProductCode $product_code"
# Code, lowest version, highest, language, attributes (0x100: the lowest
# included, 2: only detect), features to remove, property.
upgrade=$(table "$msi" Upgrade | LC_ALL=C sort -t $'\t' -k 7)
[[ $upgrade == "$upgrade_code"$'\t'"$version"$'\t\t\t2\t\tKESTRINE_NEWER_FOUND\n'"$upgrade_code"$'\t0.0.0\t\t\t256\t\tKESTRINE_REPLACED' ]] ||
  fail "upgrade table:"$'\n'"$upgrade"
[[ $'\n'$(table "$msi" LaunchCondition) == *$'\nNOT KESTRINE_NEWER_FOUND\t'* ]] ||
  fail "no launch condition against a newer version"
sequence=$(table "$msi" InstallExecuteSequence | sort -t $'\t' -k 3n | cut -f 1 | tr '\n' ' ')
[[ $sequence == *" InstallValidate RemoveExistingProducts InstallInitialize "* ]] ||
  fail "the older version is not removed before this one installs: $sequence"
for name in Registry RemoveFile CreateFolder ServiceInstall; do
  [[ -z $(table "$msi" "$name") ]] || fail "$name table: $(table "$msi" "$name")"
done
# Custom actions of type 51 only: they set a property.
table "$msi" CustomAction | awk -F'\t' '$2 % 64 != 51 { exit 1 }' ||
  fail "custom actions other than properties: $(table "$msi" CustomAction)"

# Under Wine. The Mono and Gecko installers stay off (they would ask), and so
# do menu entries on this machine for the shortcuts.
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
trap 'stop_wine_display; rm -rf "$work"' EXIT
mkdir "$WINEPREFIX"
start_wine_display
timeout 300 wineboot -i >/dev/null 2>&1
drive_c=$WINEPREFIX/drive_c
folder='C:\Program Files\Kestrine'
dir=$drive_c/Program\ Files/Kestrine
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
windows_path() { echo "Z:${1//\//\\}"; }
msiexec() { timeout 180 wine msiexec "$@" >/dev/null 2>&1; }
mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$zip")
zip_folder=$work/zip/Kestrine-$version-win64

# The keys of the uninstall entries named Kestrine, one a line.
entries() {
  timeout 60 wine reg query "$uninstall" /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ { key = $0 } $1 == "DisplayName" && $3 == "Kestrine" { print key }'
}
value() { # key name
  timeout 60 wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
# Wine's msi puts a per-machine package's shortcuts in the user's Start menu;
# Windows puts them in the one for all users. Either way, one.
shortcuts() { find "$drive_c" -name Kestrine.lnk; }

# Installed as package CODE of VERSION: one folder, the zip's files, one
# shortcut, one uninstall entry, the icon for Programs and Features.
check_installed() { # code version
  local code=$1 version=$2 key name want
  [[ $(find "$drive_c/Program Files" -maxdepth 1 -iname '*kestrine*') == "$dir" ]] ||
    fail "version $version: Program Files holds $(find "$drive_c/Program Files" -maxdepth 1 -iname '*kestrine*')"
  [[ $(cd "$dir" 2>/dev/null && find . -type f | LC_ALL=C sort | tr '\n' ' ') == \
    "./LICENSE.txt ./README.txt ./kestrine.exe " ]] ||
    fail "version $version: $folder holds $(cd "$dir" 2>/dev/null && find . | tr '\n' ' ')"
  for name in kestrine.exe LICENSE.txt README.txt; do
    cmp -s "$dir/$name" "$zip_folder/$name" || fail "version $version: $name is not the zip's"
  done
  if [[ $(shortcuts | wc -l) != 1 ]] || ! grep -qaF "$folder\\kestrine.exe" "$(shortcuts)"; then
    fail "version $version: shortcuts $(shortcuts | tr '\n' ' ')"
  fi
  key=$(entries)
  if [[ $key != *"\\$code" ]]; then
    fail "version $version: uninstall entries $(tr '\n' ' ' <<<"$key"), wanted one for $code"
    return
  fi
  for name in DisplayVersion="$version" Publisher=Kestrine InstallLocation="$folder\\" \
    UninstallString="MsiExec.exe /X$code"; do
    want=${name#*=}
    name=${name%%=*}
    [[ $(value "$key" "$name") == "$want" ]] ||
      fail "version $version: $name \"$(value "$key" "$name")\", wanted \"$want\""
  done
  cmp -s "$drive_c/windows/Installer/$code/kestrine.ico" "$icon" ||
    fail "version $version: no icon for Programs and Features"
}

find "$drive_c" -type f | LC_ALL=C sort >"$work/files-before"
if ! msiexec /i "$(windows_path "$msi")" /qn; then
  echo "FAIL: msiexec /i $(basename "$msi") /qn" >&2
  exit 1
fi
check_installed "$product_code" "$version"

# The program from the shortcut, as the Start menu starts it.
timeout 60 wine start /unix "$(shortcuts | head -n 1)" >/dev/null 2>&1 || fail "wine start of the shortcut"
if wait_for_window Kestrine 60; then
  pid=$(xdotool getwindowpid "$(visible_window Kestrine)")
  [[ $(tr '\0' ' ' <"/proc/$pid/cmdline") == *"$folder\\kestrine.exe"* ]] ||
    fail "the window is not the installed program's: $(tr '\0' ' ' <"/proc/$pid/cmdline")"
  kill "$pid"
  for ((i = 0; i < 100; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
else
  fail "the installed program showed no window"
fi

msiexec /i "$(windows_path "$next_msi")" /qn || fail "msiexec /i of version $next over $version"
check_installed "$next_product_code" "$next"

# An older package stops and leaves the newer version as it is.
msiexec /i "$(windows_path "$msi")" /qn && fail "version $version installed over version $next"
check_installed "$next_product_code" "$next"

msiexec /x "$(windows_path "$next_msi")" /qn || fail "msiexec /x of version $next"
[[ -z $(entries) ]] || fail "uninstall entries left: $(entries)"
find "$drive_c" -type f | LC_ALL=C sort >"$work/files-after"
diff "$work/files-before" "$work/files-after" >"$work/files-diff" ||
  fail "files that the removal changed:"$'\n'"$(cat "$work/files-diff")"
[[ ! -e $dir ]] || fail "$folder is still there"

# Where the setup program has installed Kestrine, the package stops: the
# setup's uninstaller would otherwise delete the package's files.
timeout 120 wine "$setup" /S >/dev/null 2>&1 || fail "the setup program /S"
msiexec /i "$(windows_path "$msi")" /qn && fail "the package installed over the setup program's Kestrine"
if [[ $(entries) == *"{"* || ! -f $dir/uninstall.exe ]]; then
  fail "the package changed the setup program's Kestrine: $(entries | tr '\n' ' ')"
fi

((failures == 0)) || exit 1
echo "$(basename "$msi"): tables, install, start, upgrade to $next, downgrade refused, removal as they should be"
