#!/usr/bin/env bash
# The Windows directory, file and permission layers under Wine against the
# sandbox domain: an import run over LDAPS with a simple bind (Wine has no
# Negotiate bind), home folders on \\fs-wine\home$ mapped by Wine to a local
# folder (Wine has no SMB client), and a stand-in cacls.exe that records what
# Windows' cacls would receive (Wine's own is a dummy). The directory is then
# checked from Linux. Runs inside `scripts/sandbox-domain exec`.
#   wine_import_test.sh WINE_IMPORT_RUN_EXE STAND_IN_DIR
set -euo pipefail

: "${KESTRINE_SANDBOX_DOMAIN_DN:?run through scripts/sandbox-domain exec}"
: "${WINEPREFIX:?}"
program=$1
stand_in=$2
tag=wn$$
unit="$tag Wine"
work=$(mktemp -d)
share=$work/share
record=$work/cacls.txt
mapping=$WINEPREFIX/dosdevices/unc/fs-wine

cleanup() {
  ldapdelete -Q -Y GSSAPI -r "OU=$unit,$KESTRINE_SANDBOX_DOMAIN_DN" 2>/dev/null || true
  rm -rf "$work" "$mapping"
}
trap cleanup EXIT

mkdir -p "$share" "$mapping"
ln -sfn "$share" "$mapping/home\$"
export WINEDEBUG=-all WINEPATH=$(winepath -w "$stand_in" 2>/dev/null) KESTRINE_CACLS_RECORD
KESTRINE_CACLS_RECORD=$(winepath -w "$record" 2>/dev/null)
# Wine's LDAP library is the host's libldap: trust the sandbox's certificate.
export LDAPTLS_CACERT=$KESTRINE_SANDBOX_DIR/private/tls/ca.pem
wineserver -p 2>/dev/null || true

# UTF-8 with a byte-order mark: the ANSI code page has no ü for every locale.
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
run() { # server, then the output file; the exit status is the run's
  timeout 300 wine "$program" "$(winepath -w "$csv")" "$1" \
    "Administrator@$KESTRINE_SANDBOX_DNS_DOMAIN" "$(winepath -w "$password")" >"$2" 2>&1
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

# What cmd.exe handed cacls: one call per folder, the arguments split as
# Windows' cacls would see them, and the answer to its question.
cat "$record"
for who in a b; do
  check "cacls arguments for $tag$who" grep -qzF \
    "argument 1: \\\\fs-wine\\home\$\\$tag$who
argument 2: /t
argument 3: /c
argument 4: /g
argument 5: Administrators:f
argument 6: $tag$who:F
input: Y" "$record"
done
check "one cacls call per record" test "$(grep -c '^command line:' "$record")" = 2

# Again, with cacls failing: its exit code is the step's result.
status=0
KESTRINE_CACLS_EXIT=1332 run "$KESTRINE_SANDBOX_DC" "$work/second.txt" || status=$?
cat "$work/second.txt"
check "the failing run is no success" test "$status" != 0
check "cacls' exit code is reported" grep -q "1332" "$work/second.txt"
check "no record counted as added" grep -q "^complete: 0 Users and Folders" "$work/second.txt"

# A server that is not there: every record fails at once, nothing waits long.
start=$SECONDS
status=0
run 127.0.0.9 "$work/third.txt" || status=$?
cat "$work/third.txt"
check "an unreachable server fails the run" test "$status" != 0
check "the records say why" grep -q "could not be reached" "$work/third.txt"
check "no long wait for an unreachable server" test $((SECONDS - start)) -lt 60

exit "$failed"
