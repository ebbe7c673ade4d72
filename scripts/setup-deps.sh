#!/usr/bin/env bash
# setup-deps.sh: installs everything the builds and tests need on Debian 12 (idempotent).
#  - Debian packages: compilers (native, clang, mingw-w64 posix), Wine 8, widl, CMake/Ninja,
#    googletest, TinyXML and KISS FFT, PulseAudio and sox (audio tests and the demo), wixl and
#    msitools (the installer packages), Xvfb, xdotool, ImageMagick and Wine's fonts (the lighting
#    app's window, driven and photographed under a private X server)
#  - a deb-src entry mirroring the binary one, for the Debian source packages that the windows build
#    compiles with the cross toolchain (TinyXML, KISS FFT)
set -euo pipefail
source "$(dirname "$0")/lib.sh"

packages=(
  build-essential cmake ninja-build pkg-config dpkg-dev
  clang libclang-rt-14-dev
  mingw-w64 mingw-w64-tools g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
  wine wine64 libwine-dev
  googletest libtinyxml-dev libkissfft-dev libbenchmark-dev
  pulseaudio pulseaudio-utils sox python3 procps
  wixl msitools
  xvfb xauth xdotool imagemagick fonts-wine
)

step "Checking Debian packages"
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

src_list=/etc/apt/sources.list.d/debian-src.sources
need_update=0
if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  info "adding a deb-src entry ($src_list)"
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | as_root tee "$src_list" >/dev/null
  else
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | as_root tee /etc/apt/sources.list.d/debian-src.list >/dev/null
  fi
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_update = 1 ]; then
  info "apt-get update"
  as_root apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  info "installing: ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
info "all packages present"
