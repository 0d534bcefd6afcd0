#!/usr/bin/env bash
# The Debian package on a machine where nothing else is installed, set up as
# the README's Install section says: a copy of a minimal Debian 12
# (scripts/minimal-debian), `apt-get install ./kestrine_*.deb` and nothing
# else, with the realm and its Kerberos server given to krb5-user's questions,
# the domain controller as the machine's DNS server (as on a member of the
# domain), and an administrator's ticket taken with kinit and shown with
# klist. Then the installed /usr/bin/kestrine, run from
# that system in the sandbox domain's network, finds the controller through
# DNS and imports three users, worked by keyboard; the accounts, their
# passwords and their home folders' access lists are checked from outside.
# Runs inside `scripts/sandbox-domain exec`; exits with 77 (skipped) when the
# package archive cannot be reached.
#   clean_install_test.sh CPACK BUILD-DIR VERSION
set -euo pipefail
cpack=$1 build=$2 version=$3
# shellcheck source=../../scripts/lib/common.sh
source "$(dirname "$0")/../../scripts/lib/common.sh"
# shellcheck source=../../scripts/lib/walkthrough.sh
source "$KESTRINE_ROOT/scripts/lib/walkthrough.sh"
: "${KESTRINE_SANDBOX_DOMAIN_DN:?run through scripts/sandbox-domain exec}"
readonly SKIP=77

tag=ci$$
unit="$tag Clean"
users=(a b c)
work=$(mktemp -d /var/tmp/kestrine-clean-install.XXXXXX)
root=$work/root
shots=$build/tests/packaging/screenshots/clean-install
rm -rf "$shots"

cleanup() {
  [[ -n ${program_pid:-} ]] && kill "$program_pid" 2>/dev/null
  stop_xvfb
  ldapdelete -Q -Y GSSAPI -r "OU=$unit,$KESTRINE_SANDBOX_DOMAIN_DN" 2>/dev/null || true
  rm -rf "${KESTRINE_SANDBOX_SHARE_DIR:?}/$tag"* "$work"
}
trap cleanup EXIT

# The sandbox's network namespace has no way to the package archive: what needs
# it runs in the namespaces (network and mounts) of the nearest ancestor
# outside, the shell that started `scripts/sandbox-domain exec`.
outside_sandbox() {
  local own pid=$$ net
  own=$(readlink /proc/self/ns/net)
  while pid=$(awk '/^PPid:/ { print $2 }' "/proc/$pid/status" 2>/dev/null) && ((pid > 1)); do
    net=$(readlink "/proc/$pid/ns/net" 2>/dev/null) || break
    if [[ $net != "$own" ]]; then
      nsenter --net="/proc/$pid/ns/net" --mount="/proc/$pid/ns/mnt" -- "$@"
      return
    fi
  done
  echo "SKIP: no process outside the sandbox's network namespace to reach the package archive from" >&2
  return "$SKIP"
}

# Runs a command in the installed system, with /proc, /dev and the X server's
# sockets, in a mount namespace of its own that ends with it; it replaces the
# calling (sub)shell, so that $! of a background call is the command itself.
in_clean_system() {
  # The root bound onto itself is a mount point, as / is on a real machine
  # (the drive list shows the mounted volumes).
  # shellcheck disable=SC2016 # expanded by that sh, from its arguments
  exec unshare --mount sh -c 'mount --bind "$1" "$1" &&
    mount -t proc proc "$1/proc" && mount --rbind /dev "$1/dev" &&
    { [ ! -d /tmp/.X11-unix ] || mount --bind /tmp/.X11-unix "$1/tmp/.X11-unix"; } &&
    root=$1 && shift && exec chroot "$root" "$@"' \
    - "$root" env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/sbin:/usr/sbin:/sbin HOME=/root \
    "$@"
}

cpack_log=$work/cpack.log
if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" >"$cpack_log" 2>&1; then
  cat "$cpack_log" >&2
  exit 1
fi
deb=$work/out/kestrine_${version}_amd64.deb

# What the administrator answers to krb5-user's questions while it installs.
answers=$work/debconf-answers
cat >"$answers" <<EOF
krb5-config krb5-config/default_realm string $KESTRINE_SANDBOX_REALM
krb5-config krb5-config/kerberos_servers string $KESTRINE_SANDBOX_DC
krb5-config krb5-config/admin_server string $KESTRINE_SANDBOX_DC
EOF

status=0
outside_sandbox "$KESTRINE_ROOT/scripts/minimal-debian" install "$root" "$deb" "$answers" ||
  status=$?
if ((status == SKIP)); then
  echo "SKIP: the package could not be installed: no way to the Debian archive (see above)" >&2
  exit "$SKIP"
fi
((status == 0)) || exit "$status"

# The domain controller as DNS server. Its own DNS has no reverse zone: the
# hosts file gives the controller's address its name back, as a network with
# reverse DNS would.
cp "$KESTRINE_SANDBOX_DIR/client/resolv.conf" "$root/etc/resolv.conf"
cp "$KESTRINE_SANDBOX_DIR/client/hosts" "$root/etc/hosts"
mkdir -p "$root/tmp/.X11-unix" "$root/run/user/0"
chmod 700 "$root/run/user/0"

failed=0

admin=$KESTRINE_SANDBOX_ADMIN@$KESTRINE_SANDBOX_REALM
(in_clean_system kinit "$admin") <"$KESTRINE_SANDBOX_ADMIN_PASSWORD_FILE" >/dev/null ||
  { echo "FAILED: kinit $admin in the installed system" >&2; exit 1; }
tickets=$(in_clean_system klist)
check "klist shows the administrator's ticket" grep -qx "Default principal: $admin" <<<"$tickets"

csv=$root/tmp/users.csv
for who in "${users[@]}"; do
  echo "$tag$who,Clean Install $tag$who,Clean,Install,Fresh-$who-2026!,$unit,$KESTRINE_SANDBOX_DNS_DOMAIN,$KESTRINE_SANDBOX_DC,home,logon.cmd"
done >"$csv"

start_xvfb
(in_clean_system DISPLAY="$DISPLAY" XDG_RUNTIME_DIR=/run/user/0 /usr/bin/kestrine) \
  2>"$work/kestrine.stderr" &
program_pid=$!
if ! keyboard_import "$program_pid" /tmp/users.csv "$shots"; then
  echo "FAILED: the import worked by keyboard; the program said:" >&2
  cat "$work/kestrine.stderr" >&2
  exit 1
fi
program_pid=

# Three added and nothing failed: no message box was shown.
check "no message box" test -z "$(ls "$shots"/*-message.png 2>/dev/null)"
for who in "${users[@]}"; do
  account=$tag$who
  check_imported_account "$account" "$unit"
  check "$account signs in with the password from the file" \
    env KRB5CCNAME="FILE:$work/krb5cc_$account" kinit "$account@$KESTRINE_SANDBOX_REALM" \
    <<<"Fresh-$who-2026!"
done
exit "$failed"
