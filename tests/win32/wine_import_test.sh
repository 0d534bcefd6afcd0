#!/usr/bin/env bash
# The Windows directory, file and permission layers under Wine against the
# sandbox domain: an import run over LDAPS with a simple bind (Wine has no
# Negotiate bind), home folders on \\fs-wine\home$ mapped by Wine to a local
# folder (Wine has no SMB client, and keeps no access lists, so the grant's
# effect cannot be read back). The directory is then checked from Linux.
# Runs inside `scripts/sandbox-domain exec`.
#   wine_import_test.sh WINE_IMPORT_RUN_EXE
set -euo pipefail

: "${KESTRINE_SANDBOX_DOMAIN_DN:?run through scripts/sandbox-domain exec}"
: "${WINEPREFIX:?}"
program=$1
sandbox=$(dirname "$0")/../../scripts/sandbox-domain
tag=wn$$
unit="$tag Wine"
work=$(mktemp -d)
share=$work/share
mapping=$WINEPREFIX/dosdevices/unc/fs-wine

# freeze or thaw the sandbox this runs in
sandbox_domain() { KESTRINE_SANDBOX_NAME=$KESTRINE_SANDBOX_NETNS "$sandbox" "$1" >/dev/null; }

cleanup() {
  sandbox_domain thaw
  ldapdelete -Q -Y GSSAPI -r "OU=$unit,$KESTRINE_SANDBOX_DOMAIN_DN" 2>/dev/null || true
  rm -rf "$work" "$mapping"
}
trap cleanup EXIT

mkdir -p "$share" "$mapping"
ln -sfn "$share" "$mapping/home\$"
export WINEDEBUG=-all
# Wine's LDAP library is the host's libldap: trust the sandbox's certificate.
export LDAPTLS_CACERT=$KESTRINE_SANDBOX_DIR/private/tls/ca.pem
# One server for the runs below, gone 10 s after the last; not on the test's
# output, which ctest reads until every holder has closed it.
wineserver -p10 >/dev/null 2>&1 || true

# UTF-8 with a byte-order mark, as a Windows editor writes it.
csv=$work/users.csv
{
  printf '\xEF\xBB\xBF'
  echo "${tag}a,J\xC3\xBCrgen ${tag}a,J\xC3\xBCrgen,M\xC3\xBCller,Wine-a-2026!,$unit,$KESTRINE_SANDBOX_DNS_DOMAIN,fs-wine,home,logon.cmd"
  echo "${tag}b,Bea ${tag}b,Bea,Lang,Wine-b-2026!,$unit,$KESTRINE_SANDBOX_DNS_DOMAIN,fs-wine,home,logon.cmd"
} | sed 's/\\xC3\\xBC/\xC3\xBC/g' >"$csv"
password=$work/password
cp "$KESTRINE_SANDBOX_ADMIN_PASSWORD_FILE" "$password"

failed=0
check() { # what, then the command that must succeed
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then echo "ok: $what"; else echo "FAILED: $what" >&2; failed=1; fi
}
run() { # server, the output file, any timeout in seconds; the exit status is the run's
  timeout 300 wine "$program" "$(winepath -w "$csv")" "$1" \
    "Administrator@$KESTRINE_SANDBOX_DNS_DOMAIN" "$(winepath -w "$password")" ${3:+"$3"} >"$2" 2>&1
}

status=0
run "$KESTRINE_SANDBOX_DC" "$work/first.txt" || status=$?
cat "$work/first.txt"
check "the first run succeeds" test "$status" = 0
check "both records counted" grep -q "^complete: 2 Users and Folders were added successfully!" \
  "$work/first.txt"

entry() { # logon name, attribute
  ldapsearch -Q -Y GSSAPI -LLL -o ldif-wrap=no -b "$KESTRINE_SANDBOX_DOMAIN_DN" \
    "(sAMAccountName=$1)" "$2" | sed -n "s/^$2:: \?//p; s/^$2: //p"
}
base64_of() { printf '%s' "$1" | base64 -w0; }
check "the unit exists" ldapsearch -Q -Y GSSAPI -LLL -s base -b "OU=$unit,$KESTRINE_SANDBOX_DOMAIN_DN"
check "non-ASCII first name" test "$(entry "${tag}a" givenName)" = "$(base64_of "Jürgen")"
check "non-ASCII last name" test "$(entry "${tag}a" sn)" = "$(base64_of "Müller")"
check "the principal name" \
  test "$(entry "${tag}a" userPrincipalName)" = "${tag}a@$KESTRINE_SANDBOX_DNS_DOMAIN"
check "the logon script" test "$(entry "${tag}b" scriptPath)" = "logon.cmd"
check "the account is in its unit" \
  test "$(entry "${tag}b" distinguishedName)" = "CN=Bea ${tag}b,OU=$unit,$KESTRINE_SANDBOX_DOMAIN_DN"
check "the account is enabled" \
  test "$(($(entry "${tag}b" userAccountControl) & 2))" = 0
for who in a b; do
  check "$tag$who signs in with the password from the file" \
    env KRB5CCNAME="FILE:$work/cc-$who" kinit "$tag$who@$KESTRINE_SANDBOX_REALM" \
    < <(echo "Wine-$who-2026!")
  check "the home folder of $tag$who" test -d "$share/$tag$who"
done

# A password the domain refuses: the account's second write goes as the
# password alone and then the rest, and the account stays disabled.
weak=$work/weak.csv
echo "${tag}w,Weak ${tag}w,Weak,Key,x,$unit,$KESTRINE_SANDBOX_DNS_DOMAIN,fs-wine,home,logon.cmd" >"$weak"
status=0
csv=$weak run "$KESTRINE_SANDBOX_DC" "$work/weak.txt" || status=$?
cat "$work/weak.txt"
check "a refused password fails the run" test "$status" != 0
check "the record names its password step" grep -qF "${tag}w: set the password: " "$work/weak.txt"
check "the refused record is counted as failed" \
  grep -q "^complete: 0 Users and Folders were added successfully! 1 failed." "$work/weak.txt"
check "its account is disabled" test "$(($(entry "${tag}w" userAccountControl) & 2))" = 2
check "its logon script is set" test "$(entry "${tag}w" scriptPath)" = "logon.cmd"

# Again, with a link in one home folder that points up to the share: the
# re-run grants both folders again but neither changes nor enters the link,
# and says so for that record.
mkdir "$share/${tag}a/sub"
ln -s .. "$share/${tag}a/sub/up"
status=0
run "$KESTRINE_SANDBOX_DC" "$work/second.txt" || status=$?
cat "$work/second.txt"
check "a run that left a link alone is no success" test "$status" != 0
check "the permission message names the user and the folder" grep -qF \
  "Error assigning permissions for user ${tag}a to home folder \\\\fs-wine\\home\$\\${tag}a" \
  "$work/second.txt"
check "the summary names the link" grep -qF \
  "${tag}a: set the permissions: \\\\fs-wine\\home\$\\${tag}a\\sub: junctions and links are not followed; left unchanged: up" \
  "$work/second.txt"
check "the other record already existed" grep -q \
  "^complete: 0 Users and Folders were added successfully! 1 already existed. 1 failed." \
  "$work/second.txt"

# A server that is not there: every record fails at once, nothing waits long.
start=$SECONDS
status=0
run 127.0.0.9 "$work/third.txt" || status=$?
cat "$work/third.txt"
check "an unreachable server fails the run" test "$status" != 0
check "the records say why" grep -q "could not be reached" "$work/third.txt"
check "no long wait for an unreachable server" test $((SECONDS - start)) -lt 60

# A domain controller that stops answering: wldap32's bind would wait for it
# for ever (under Wine the connection is made by the bind); the run gives it
# up after its timeout and reports every record.
sandbox_domain freeze
start=$SECONDS
status=0
run "$KESTRINE_SANDBOX_DC" "$work/frozen.txt" 5 || status=$?
took=$((SECONDS - start))
sandbox_domain thaw
cat "$work/frozen.txt"
check "a frozen domain controller fails the run" test "$status" != 0
check "the bind is given up after its timeout" grep -qF \
  "simple bind to ldaps://$KESTRINE_SANDBOX_DC: the domain controller did not answer within 5 s" \
  "$work/frozen.txt"
check "every record is reported" grep -q "^complete: 0 Users and Folders were added successfully! 2 failed." \
  "$work/frozen.txt"
check "the run ends soon after the timeout ($took s)" test "$took" -lt 30

exit "$failed"
