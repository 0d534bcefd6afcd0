#!/usr/bin/env bash
# The sandbox's file servers for the SMB client's tests, as smbclient and the
# servers' own smbstatus see them: each reached by name with Kerberos, each
# with its protocol range, signing always, encryption where the share wants
# it, and the DFS shares referring to home$. Runs inside
# `scripts/sandbox-domain exec`.
set -euo pipefail
: "${KESTRINE_SANDBOX_DC:?run this through scripts/sandbox-domain exec}"
sandbox=$(dirname -- "$0")/../../scripts/sandbox-domain
dc=$KESTRINE_SANDBOX_DC
share=$KESTRINE_SANDBOX_SHARE
failures=0
client_options=()  # more smbclient options for the next calls

fail() {
  printf 'FAIL: %s\n' "$*" >&2
  failures=$((failures + 1))
}

# smbclient to //SERVER/SHARE with the dialects MIN to MAX, running COMMANDS
# (without any, those of its input).
smb() {
  local server=$1 service=$2 min=$3 max=$4
  shift 4
  timeout 20 smbclient "//$server/$service" --use-kerberos=required \
    --use-krb5-ccache="$KRB5CCNAME" --option="client min protocol=$min" \
    --option="client max protocol=$max" "${client_options[@]}" ${1:+-c "$*"} 2>&1
}

# Whether a client limited to MIN..MAX gets in: "ok" or "refused".
expect() {
  local want=$1 out got
  shift
  if out=$(smb "$@" ls); then got=ok; else got=refused; fi
  [[ $got == "$want" ]] || fail "$*: $got, expected $want: $(tail -n 1 <<<"$out")"
}

# The line of `smbstatus ARGS` (of the server named by STATUS, or the DC's)
# that matches PATTERN while a client holds a session to //SERVER/SHARE open.
held_status() {
  local status=$1 pattern=$2 server=$3 service=$4 min=$5 max=$6 line='' i hold client
  shift 6
  # smbclient waits for commands until its input ends.
  exec {hold}> >(smb "$server" "$service" "$min" "$max" >/dev/null)
  client=$!
  for ((i = 0; i < 30; i++)); do
    line=$("$sandbox" smbstatus ${status:+"$status"} "$@" | grep -v 'auth in progress' |
      grep -E -- "$pattern" || true)
    [[ -n $line ]] && break
    sleep 0.1
  done
  exec {hold}>&-
  wait "$client"
  printf '%s\n' "$line"
}

# Protocol ranges: dc1 speaks 2.0.2 to 3.1.1, fs-smb21 at most 2.1, fs-smb311
# only 3.1.1.
expect ok "$dc" "$share" SMB2_02 SMB2_10
expect ok "$dc" "$share" SMB3_11 SMB3_11
expect ok "$KESTRINE_SANDBOX_SMB21" "$share" SMB2_02 SMB3_11
expect refused "$KESTRINE_SANDBOX_SMB21" "$share" SMB3_00 SMB3_11
expect ok "$KESTRINE_SANDBOX_SMB311" "$share" SMB2_02 SMB3_11
expect refused "$KESTRINE_SANDBOX_SMB311" "$share" SMB2_02 SMB3_02
# The encrypted share lets in only who can encrypt.
expect ok "$dc" "$KESTRINE_SANDBOX_SHARE_ENCRYPTED" SMB3_00 SMB3_11
expect refused "$dc" "$KESTRINE_SANDBOX_SHARE_ENCRYPTED" SMB2_02 SMB2_10

# Each session as its server tells it: the dialect, and signed (smbstatus
# shows the algorithm once the session is set up), even for a client that
# asks for no signing.
signed='(HMAC-SHA256|AES-128-CMAC|AES-128-GMAC) *$'
for server in "dc1 $dc" "fs-smb21 $KESTRINE_SANDBOX_SMB21" "fs-smb311 $KESTRINE_SANDBOX_SMB311"; do
  read -r short name <<<"$server"
  status=$([[ $short == dc1 ]] || echo "$short")
  expected=$([[ $short == fs-smb21 ]] && echo SMB2_10 || echo SMB3_11)
  line=$(held_status "$status" "^[0-9]+ .* $expected +- +$signed" "$name" "$share" SMB2_02 SMB3_11 -b)
  [[ -n $line ]] || fail "$name: no signed $expected session: $("$sandbox" smbstatus ${status:+"$status"} -b)"
done
client_options=(--option="client signing=off")
line=$(held_status "" "^[0-9]+ .* SMB2_10 +- +$signed" "$dc" "$share" SMB2_02 SMB2_10 -b)
client_options=()
[[ -n $line ]] || fail "$dc let a client that asked for no signing go unsigned"
line=$(held_status "" "^${KESTRINE_SANDBOX_SHARE_ENCRYPTED//$/\\$} " "$dc" \
  "$KESTRINE_SANDBOX_SHARE_ENCRYPTED" SMB3_00 SMB3_11 -S)
[[ $line =~ AES-128-(GCM|CCM) ]] || fail "$KESTRINE_SANDBOX_SHARE_ENCRYPTED not encrypted: $line"

# DFS: a path below the link "home" of homedfs$ is not there
# (STATUS_PATH_NOT_COVERED), homeproxy$ cannot be connected to
# (STATUS_BAD_NETWORK_NAME); a client that follows their referrals lands in
# home$.
dfs=$(/usr/bin/python3 - "$dc" "$KESTRINE_SANDBOX_SHARE_DFS" "$KESTRINE_SANDBOX_SHARE_PROXY" <<'EOF'
import os, sys
from samba import credentials, NTSTATUSError
from samba.samba3 import libsmb_samba_internal as libsmb, param
lp = param.get_context()
lp.load_default()
creds = credentials.Credentials()
creds.guess(lp)
creds.set_kerberos_state(credentials.MUST_USE_KERBEROS)
creds.set_named_ccache(os.environ["KRB5CCNAME"].removeprefix("FILE:"), credentials.SPECIFIED, lp)
for service, path in ((sys.argv[2], "home\\sandbox-dfs-direct"), (sys.argv[3], "x")):
    try:
        libsmb.Conn(sys.argv[1], service, lp, creds).mkdir(path)
        print("created")
    except NTSTATUSError as e:
        print("%#010x" % e.args[0])
EOF
)
[[ $dfs == $'0xc0000257\n0xc00000cc' ]] || fail "DFS shares answered: $dfs"
for via in "$KESTRINE_SANDBOX_SHARE_DFS home\\sandbox-dfs-a" "$KESTRINE_SANDBOX_SHARE_PROXY sandbox-dfs-b"; do
  read -r service path <<<"$via"
  out=$(smb "$dc" "$service" SMB3_00 SMB3_11 "mkdir $path") || fail "mkdir through $service: $out"
  folder=$KESTRINE_SANDBOX_SHARE_DIR/${path##*\\}
  [[ -d $folder ]] || fail "mkdir through $service did not land in $share"
  rm -rf -- "$folder"
done

# The relay's name has its address and a service principal of its own.
[[ $(getent hosts "$KESTRINE_SANDBOX_RELAY") == "$KESTRINE_SANDBOX_RELAY_IP"* ]] ||
  fail "$KESTRINE_SANDBOX_RELAY does not resolve to $KESTRINE_SANDBOX_RELAY_IP"
kvno -q "cifs/$KESTRINE_SANDBOX_RELAY" || fail "no ticket for cifs/$KESTRINE_SANDBOX_RELAY"

((failures == 0)) || exit 1
echo "sandbox servers: all as described"
