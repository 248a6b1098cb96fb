#!/bin/sh
# Sets up a Debian machine, builds everything and runs every test:
#   native  unit tests, the OpenSSL verifier, the POSIX adapters, the
#           mutation corpus, the end-to-end cases, sealprobe-explain and
#           the .deb
#   win64   SealProbe.exe under Wine: unit, probe, end-to-end, dialog and
#           build checks
#   asan    the native suite again under AddressSanitizer and
#           UndefinedBehaviorSanitizer, leak checking on
#   fuzz    a short run of each libFuzzer target
# then makes the release artifacts in dist/ (scripts/package.sh), to prove
# they build from a fresh clone.
set -eu
cd "$(dirname "$0")/.."
scripts/setup-debian.sh

# A warning in our own code fails the build here (SEALPROBE_WERROR).
for preset in native win64 asan fuzz; do
  echo "== $preset"
  cmake --preset "$preset" -DSEALPROBE_WERROR=ON >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

echo "== package"
scripts/package.sh
