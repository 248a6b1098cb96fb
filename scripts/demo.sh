#!/bin/sh
# Sets up a Debian machine, builds both tools, makes a demo installation of
# signed files under build/demo, and runs the native tool and the Windows
# tool (under Wine) on it: once on a sound installation, once after one file
# has been tampered with.
set -eu
cd "$(dirname "$0")/.."
root="$(pwd)"
scripts/setup-debian.sh

for preset in native win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done

demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
src/authenticode/testdata/make_fixtures.sh "$demo/fixtures"
product="$demo/install/Product/" common="$demo/install/CommonFiles/"
mkdir -p "$product" "$common"
for name in tv-Common.v5.21.40.0.dll tv-Strings.dll TarvoSetup.exe \
            TarvoGlance.exe Panel.exe; do
  cp "$demo/fixtures/files/valid.exe" "$product$name"
done
cp "$demo/fixtures/files/valid.exe" "${common}tv-Strings.dll"
cp build/win64/SealProbe.exe "$product"

# The demo trusts its own test root and the development signing certificate,
# and nothing else.
cat "$demo/fixtures/pki/root.crt" build/win64/dev-signing/dev-signing.crt \
  > "$demo/trusted.pem"

run() {  # title, then the exit code is shown
  echo
  echo "== $1"
  shift
  set +e
  "$@"
  echo "(exit code $?)"
  set -e
}
wine_path() { printf 'Z:%s' "$1" | tr / '\\'; }
message='SealProbe found a problem with {FileName}. Please reinstall.'

run "native sealprobe, sound installation" env SSL_CERT_FILE="$demo/trusted.pem" \
  SEALPROBE_WINDOWS_TRUST= build/native/sealprobe "$product" "$common" "Tarvo" "$message" 2
run "SealProbe.exe under Wine, sound installation" build/win64/wine-run \
  build/win64/SealProbe.exe "$(wine_path "$product")" "$(wine_path "$common")" \
  "Tarvo" "$message" 2

cp "$demo/fixtures/files/tampered.exe" "${product}TarvoGlance.exe"
run "native sealprobe, TarvoGlance.exe tampered with" env SSL_CERT_FILE="$demo/trusted.pem" \
  SEALPROBE_WINDOWS_TRUST= build/native/sealprobe "$product" "$common" "Tarvo" "$message" 2
run "SealProbe.exe under Wine, TarvoGlance.exe tampered with" build/win64/wine-run \
  build/win64/SealProbe.exe "$(wine_path "$product")" "$(wine_path "$common")" \
  "Tarvo" "$message" 2
