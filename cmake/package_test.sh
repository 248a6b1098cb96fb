#!/bin/sh
# The .deb as CPack makes it from a build folder, into a temporary folder:
# its files and control fields, then its programs run from the unpacked
# tree. The package is never installed.
#   package_test.sh CPACK BUILD_DIR VERSION
set -eu
cpack="$1" build="$2" version="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cpack" --config "$build/CPackConfig.cmake" -B "$work/out"
arch="$(dpkg --print-architecture)"
deb="$work/out/sealprobe_${version}_$arch.deb"
[ -f "$deb" ] || fail "no sealprobe_${version}_$arch.deb"

# mode, path: each file the package installs, owned by root.
contents="$(dpkg-deb -c "$deb")"
while read -r mode path; do
  echo "$contents" | grep -q "^$mode root/root .* \./$path\$" ||
    fail "not in the package as $mode root/root: $path"
done <<END
-rwxr-xr-x usr/bin/sealprobe
-rwxr-xr-x usr/bin/sealprobe-explain
-rw-r--r-- usr/share/man/man1/sealprobe.1.gz
-rw-r--r-- usr/share/man/man1/sealprobe-explain.1.gz
END

# field, what its whole value must match (grep -E).
while read -r field pattern; do
  value="$(dpkg-deb -f "$deb" "$field")"
  echo "$value" | grep -Eqx "$pattern" || fail "$field is '$value'"
done <<END
Package sealprobe
Version $(echo "$version" | sed 's/\./\\./g')
Architecture $arch
Depends (.*, )?libssl[^ ,]*( .*)?
Depends (.*, )?libarchive13( .*)?
END

dpkg-deb -x "$deb" "$work/unpacked"
bin="$work/unpacked/usr/bin"
for program in sealprobe sealprobe-explain; do
  if readelf -S "$bin/$program" | grep -Eq '\.(symtab|debug_)'; then
    fail "$program is not stripped"
  fi
  gzip -dc "$work/unpacked/usr/share/man/man1/$program.1.gz" | grep -q '^\.TH ' ||
    fail "$program.1.gz is not a man page"
done

code=0
out="$("$bin/sealprobe")" || code=$?
[ "$code" -eq 100 ] || fail "sealprobe with no arguments exited $code"
echo "$out" | grep -q '^Synopsis:$' || fail "sealprobe printed no usage: $out"
code=0
"$bin/sealprobe-explain" 2>"$work/usage" || code=$?
[ "$code" -eq 2 ] || fail "sealprobe-explain with no arguments exited $code"
[ -s "$work/usage" ] || fail "sealprobe-explain wrote no usage on stderr"
echo "The package holds what it should, and its programs run."
