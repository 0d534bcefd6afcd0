# Shared by the project's scripts: Debian packages and the build.
# shellcheck shell=bash

KESTRINE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
KESTRINE_BUILD=$KESTRINE_ROOT/build
KESTRINE_WINDOWS_BUILD=$KESTRINE_ROOT/build-windows

# What building and testing Kestrine needs.
# Debian 12's libqt6gui6 carries the xcb, offscreen and ICO plugins itself;
# libxcb1-dev is for the tests' stand-in for a window manager's pings.
# The Debian package: icoutils for the icon's PNGs, dpkg-dev for its
# dependencies, desktop-file-utils, appstream and lintian for checking it,
# debootstrap for the minimal system it is installed into.
KESTRINE_BUILD_PACKAGES=(g++ cmake make pkg-config libldap-dev libsasl2-dev libkrb5-dev
  libsasl2-modules-gssapi-mit libssl-dev libgtest-dev libgmock-dev qt6-base-dev
  libxcb1-dev fonts-dejavu-core python3 icoutils dpkg-dev desktop-file-utils appstream
  lintian debootstrap)

# The libFuzzer target of the SMB2/3 client's reply parsing: clang with its
# fuzzer runtime.
KESTRINE_FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)

# What the Windows build (mingw-w64, windres for the resources) and its tests
# under Wine need; googletest brings the sources that the cross build compiles,
# nsis makes the installer, python3 the zip, wixl the Windows Installer package
# and msitools reads it back, icoutils reads the program's manifest back.
KESTRINE_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64
  googletest cmake make nsis python3 wixl msitools icoutils)

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

# Cross-builds the Windows core, platform layer and tests into build-windows/,
# with a Wine prefix of its own for running them.
build_windows() {
  ensure_packages "${KESTRINE_WINDOWS_PACKAGES[@]}"
  if [[ ! -f $KESTRINE_WINDOWS_BUILD/CMakeCache.txt ]]; then
    cmake -S "$KESTRINE_ROOT" -B "$KESTRINE_WINDOWS_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$KESTRINE_ROOT/cmake/mingw-w64-x86_64.cmake"
  fi
  cmake --build "$KESTRINE_WINDOWS_BUILD" -j "$(nproc)"
  local prefix=$KESTRINE_WINDOWS_BUILD/wine
  if [[ ! -f $prefix/system.reg ]]; then
    WINEPREFIX=$prefix WINEDEBUG=-all timeout 300 wineboot -i >/dev/null 2>&1
    # A crash ends the program instead of waiting in a dialog.
    WINEPREFIX=$prefix WINEDEBUG=-all timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' \
      /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    # The prefix is complete (menu entries, registry on disk) only once its
    # server has ended.
    WINEPREFIX=$prefix timeout 120 wineserver -w || true
  fi
}
