#!/bin/sh
# Builds the release artifacts into dist/ (emptied first), from a fresh clone
# or incrementally:
#   sealprobe_<version>_<arch>.deb   sealprobe, sealprobe-explain and
#                                    sealprobe-roots with their man pages
#                                    and the guides those cite,
#                                    sealprobe-roots' timer (disabled),
#                                    copyright file and changelog (CPack,
#                                    native build)
#   SealProbe-<version>-win64.zip    the signed SealProbe.exe, README.md,
#                                    LICENSE and docs/installers.md
#   SHA256SUMS                       both, for sha256sum -c
#
#   scripts/package.sh [win64|release]
# The argument is the preset SealProbe.exe comes from: win64 (the default)
# signs it with the development certificate, for tests only; release signs
# it for shipping, once configured as docs/releasing.md says.
set -eu
cd "$(dirname "$0")/.."
root="$(pwd)"

win_preset="${1:-win64}"
case "$win_preset" in
  win64 | release) ;;
  *)
    echo "usage: scripts/package.sh [win64|release]" >&2
    exit 2
    ;;
esac
# What the zip ships besides the program, checked before any building.
for doc in README.md LICENSE docs/installers.md; do
  if [ ! -f "$doc" ]; then
    echo "package.sh: $doc is missing; the Windows zip ships it" >&2
    exit 1
  fi
done

scripts/setup-debian.sh
for preset in native "$win_preset"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/native/CMakeCache.txt)"
# Times in both archives: SOURCE_DATE_EPOCH, else the last commit's, so that
# the same sources give the same archives.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git log -1 --format=%ct 2>/dev/null || date +%s)"
fi
export SOURCE_DATE_EPOCH
# Modes too: the .deb's own members have those of the files CPack writes.
umask 022

rm -rf dist
mkdir dist

# The .deb, made where CPack keeps its staging (the build folder), then
# copied out.
packages="$root/build/native/packages"
rm -rf "$packages"
cpack --config build/native/CPackConfig.cmake -B "$packages"
deb="sealprobe_${version}_$(dpkg --print-architecture).deb"
cp "$packages/$deb" dist/

# The zip: one folder named after it, its files in a fixed order, with fixed
# modes and times and no owners (zip -X).
zip_name="SealProbe-$version-win64"
stage="$root/build/$win_preset/zip"
rm -rf "$stage"
mkdir -p "$stage/$zip_name/docs"
cp "build/$win_preset/SealProbe.exe" README.md LICENSE "$stage/$zip_name/"
cp docs/installers.md "$stage/$zip_name/docs/"
chmod -R u=rwX,go=rX "$stage"
find "$stage" -exec touch -d "@$SOURCE_DATE_EPOCH" {} +
(
  cd "$stage"
  TZ=UTC zip -X -D -q "$root/dist/$zip_name.zip" "$zip_name/SealProbe.exe" \
    "$zip_name/README.md" "$zip_name/LICENSE" "$zip_name/docs/installers.md"
)

(cd dist && sha256sum -- "$deb" "$zip_name.zip" >SHA256SUMS)

echo "== dist/"
(cd dist && ls -l -- "$deb" "$zip_name.zip" SHA256SUMS)
if [ "$win_preset" = win64 ]; then
  echo "note: SealProbe.exe in the zip is signed with the DEVELOPMENT-ONLY" \
    "certificate; to ship, run: scripts/package.sh release" >&2
fi
