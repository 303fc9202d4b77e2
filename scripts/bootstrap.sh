#!/usr/bin/env bash
# Installs every Debian package that the two builds and the tests need, when
# missing, and prepares the Wine prefix once. Safe to run any number of times.
#   scripts/bootstrap.sh           build + test dependencies
#   scripts/bootstrap.sh --bench   also the peers that the benchmarks compare with
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  googletest libgtest-dev libbenchmark-dev libcli11-dev
  zlib1g-dev libdeflate-dev
  clang libclang-rt-14-dev
  mingw-w64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth x11-apps imagemagick
  osslsigncode openssl
)
if [[ "${1:-}" == "--bench" ]]; then
  packages+=(libdeflate-tools xz-utils zstd p7zip-full nsis python3 hyperfine
             fonts-wine fonts-dejavu-core fonts-dejavu-extra nsis-common adwaita-icon-theme
             valgrind libxslt1-dev libtasn1-doc gcc-mingw-w64-x86-64-win32-runtime mingw-w64-x86-64-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "bootstrap: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The posix thread model gives the cross build std::thread; select it once.
for tool in x86_64-w64-mingw32-g++ x86_64-w64-mingw32-gcc; do
  if [[ -e /usr/bin/$tool-posix ]] && [[ "$(readlink -f /usr/bin/$tool)" != *posix ]]; then
    update-alternatives --set "$tool" "/usr/bin/$tool-posix" >/dev/null
  fi
done

# A quiet, ready Wine prefix: created once, without the Mono/Gecko prompts.
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine}"
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  echo "bootstrap: preparing the Wine prefix $WINEPREFIX" >&2
  WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all wineboot --init >/dev/null 2>&1 || true
  wineserver -w || true
fi
