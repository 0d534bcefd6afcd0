# Shared by the project's scripts: Debian packages and the build.
# shellcheck shell=bash

KESTRINE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
KESTRINE_BUILD=$KESTRINE_ROOT/build

# What building and testing Kestrine needs.
# Debian 12's libqt6gui6 carries the xcb, offscreen and ICO plugins itself.
KESTRINE_BUILD_PACKAGES=(g++ cmake make pkg-config libldap-dev libsasl2-dev libkrb5-dev
  libsasl2-modules-gssapi-mit libsmbclient-dev libgtest-dev libgmock-dev qt6-base-dev
  fonts-dejavu-core python3)

# Installs the Debian packages that are not installed yet; nothing when all are.
ensure_packages() {
  local missing=() package
  for package in "$@"; do
    [[ $(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null) == installed ]] ||
      missing+=("$package")
  done
  ((${#missing[@]} == 0)) && return 0
  echo "installing Debian packages: ${missing[*]}" >&2
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Configures (once) and builds everything into build/.
build_kestrine() {
  ensure_packages "${KESTRINE_BUILD_PACKAGES[@]}"
  if [[ ! -f $KESTRINE_BUILD/CMakeCache.txt ]]; then
    cmake -S "$KESTRINE_ROOT" -B "$KESTRINE_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fi
  cmake --build "$KESTRINE_BUILD" -j "$(nproc)"
}
