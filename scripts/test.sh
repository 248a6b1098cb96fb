#!/bin/sh
# Sets up a Debian machine, builds both tools and runs every test: the native
# build (unit tests, the OpenSSL trust service, end-to-end), the Windows build
# under Wine (unit, probe, end-to-end and dialog tests), and the sanitizer
# build.
set -eu
cd "$(dirname "$0")/.."
scripts/setup-debian.sh

for preset in native win64; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
