#!/usr/bin/env bash
# The Debian package, made with cpack from the built program as scripts/package
# makes it: its fields, that it holds the program, its desktop entry, AppStream
# metadata, icons and documents and nothing else, that they work together once
# unpacked, and that lintian finds nothing to say about it, pedantic and
# informational tags too.
#   deb_package_test.sh CPACK BUILD-DIR VERSION
set -euo pipefail
cpack=$1 build=$2 version=$3

for tool in dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli readelf lintian; do
  command -v "$tool" >/dev/null || {
    echo "$tool is missing (scripts/test installs it)" >&2
    exit 1
  }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  exit 1
fi
deb=$work/out/kestrine_${version}_amd64.deb
if [[ ! -f $deb ]]; then
  echo "FAIL: no kestrine_${version}_amd64.deb; cpack made: $(cd "$work/out" && echo *.deb)" >&2
  exit 1
fi

# The control fields.
field() { dpkg-deb --field "$deb" "$1"; }
[[ $(field Package) == kestrine ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version), wanted $version"
[[ $(field Architecture) == amd64 ]] || fail "Architecture: $(field Architecture)"
[[ $(field Section) == admin ]] || fail "Section: $(field Section)"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ && $(field Maintainer) != *example.* ]] ||
  fail "Maintainer: $(field Maintainer)"
description=$(field Description)
[[ -n ${description%%$'\n'*} && $description == *$'\n'* ]] ||
  fail "Description wants a short line and a long text: $description"
depends=$(field Depends)
# libsasl2-modules-gssapi-mit is loaded at run time, unseen by dpkg-shlibdeps.
for library in libqt6widgets6 libldap libgssapi-krb5 libkrb5 libssl3 libc6 \
  libsasl2-modules-gssapi-mit; do
  [[ ", $depends" == *", $library"* ]] || fail "Depends has no $library: $depends"
done
# The SMB client is Kestrine's own.
[[ $depends != *libsmbclient* && $depends != *libwbclient* ]] || fail "Depends on Samba's client: $depends"
[[ $(field Recommends) == krb5-user ]] || fail "Recommends: $(field Recommends)"
[[ $(field Suggests) == "smbclient, ldap-utils" ]] || fail "Suggests: $(field Suggests)"

# The files: exactly these, none of the tests, harness or bench tools.
expected="./usr/bin/kestrine
./usr/share/applications/org.kestrine.kestrine.desktop
./usr/share/doc/kestrine/changelog.gz
./usr/share/doc/kestrine/copyright
./usr/share/icons/hicolor/16x16/apps/kestrine.png
./usr/share/icons/hicolor/32x32/apps/kestrine.png
./usr/share/icons/hicolor/48x48/apps/kestrine.png
./usr/share/man/man1/kestrine.1.gz
./usr/share/metainfo/org.kestrine.kestrine.metainfo.xml"
files=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
[[ $files == "$expected" ]] || fail "files:"$'\n'"$files"$'\n'"wanted:"$'\n'"$expected"

root=$work/root
dpkg-deb --extract "$deb" "$root"

program=$root/usr/bin/kestrine
[[ -x $program ]] || fail "usr/bin/kestrine is not executable"
readelf --file-header "$program" | grep -q 'Type: *DYN\|Type: *EXEC' ||
  fail "usr/bin/kestrine is not a program"
sections=$(readelf --section-headers --wide "$program")
[[ $sections != *" .debug_info "* && $sections != *" .symtab "* ]] ||
  fail "usr/bin/kestrine is not stripped"
# lintian checks RELRO, BIND_NOW, FORTIFY and .comment, but not this one.
[[ $(readelf --dyn-syms --wide "$program") == *" __stack_chk_fail@"* ]] ||
  fail "usr/bin/kestrine is built without the stack protector"

entry=$root/usr/share/applications/org.kestrine.kestrine.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate rejects $(basename "$entry")"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
[[ -x $root/usr/bin/$exec_name ]] || fail "Exec=$exec_name is not in usr/bin"
icon=$(sed -n 's/^Icon=//p' "$entry")
# Each size an RGBA PNG of its size: width, height, bit depth and colour type
# from the IHDR chunk.
for size in 16 32 48; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
  if [[ ! -f $png ]]; then
    fail "Icon=$icon has no ${size}x${size} PNG"
    continue
  fi
  [[ $(head -c 8 "$png" | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] ||
    fail "$png is not a PNG"
  read -r width height depth colour < <(od -An -j16 -N10 -tu1 "$png" |
    awk '{ print $1*2^24+$2*2^16+$3*2^8+$4, $5*2^24+$6*2^16+$7*2^8+$8, $9, $10 }')
  [[ "$width $height $depth $colour" == "$size $size 8 6" ]] ||
    fail "${size}x${size} icon: ${width}x${height}, depth $depth, colour type $colour"
done

# The AppStream metadata, as software centres read it: valid with pedantic
# hints too, its id the desktop entry's name, which it launches, and the
# release this version, dated as the changelog's entry.
metainfo=$root/usr/share/metainfo/org.kestrine.kestrine.metainfo.xml
if ! report=$(appstreamcli validate --pedantic --no-net "$metainfo" 2>&1) ||
  [[ $report != *"Validation was successful." ]]; then
  fail "appstreamcli validate --pedantic:"$'\n'"$report"
fi
read -r id launchable release < <(python3 -c '
import sys, xml.etree.ElementTree as tree
component = tree.parse(sys.argv[1]).getroot()
release = component.find("releases/release")
print(component.findtext("id"), component.findtext("launchable[@type=\"desktop-id\"]"),
      release.get("version") + "@" + release.get("date"))' "$metainfo")
[[ $id.desktop == "$(basename "$entry")" && $launchable == "$(basename "$entry")" ]] ||
  fail "the metainfo's id $id and launchable $launchable do not name $(basename "$entry")"
# The entry's own date, as written: " -- Name <address>  Mon, 07 Dec 2026 12:00:00 +0000".
zcat "$root/usr/share/doc/kestrine/changelog.gz" >"$work/changelog"
entry_date=$(dpkg-parsechangelog -l "$work/changelog" -S Date | cut -d ' ' -f 2-4)
[[ $release == "$version@$(date -d "$entry_date" +%F)" ]] ||
  fail "the metainfo's release: $release, wanted $version@$(date -d "$entry_date" +%F)"

# Every tag, pedantic and informational ones included.
if ! tags=$(lintian --allow-root --pedantic --display-info --fail-on error,warning,info,pedantic \
  "$deb" 2>&1) || [[ -n $tags ]]; then
  fail "lintian:"$'\n'"$tags"
fi

((failures == 0)) || exit 1
echo "kestrine_${version}_amd64.deb: fields, files, desktop entry, icons and lintian as they should be"
