#!/bin/sh
# Installs what building and testing SealProbe needs on Debian 12, and only
# what is missing. Run as root (or with sudo available).
set -eu

packages="cmake ninja-build g++ clang libclang-rt-14-dev googletest
  libssl-dev libarchive-dev libcurl4-openssl-dev openssl osslsigncode gcab
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-i686-posix
  wine wine64 xvfb xdotool wixl msitools nsis
  python3 python3-pefile time"
# sealprobe-explain's JUnit and SARIF reports are read back by a real JUnit
# consumer and checked against a JSON schema.
packages="$packages python3-junitparser python3-jsonschema"
# For scripts/package.sh: CPack computes the .deb's Depends with
# dpkg-shlibdeps (dpkg-dev), on the programs it finds with file; zip makes
# the Windows zip. The package test runs lintian on the .deb.
packages="$packages dpkg-dev file zip lintian"

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $p"
done
[ -z "$missing" ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing:$missing"
$sudo apt-get update -qq
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
