#!/bin/sh
# The .deb as CPack makes it from a build folder, into a temporary folder:
# its files and control fields, what lintian says of it, then its programs
# run from the unpacked tree. The package is never installed.
#   package_test.sh CPACK SOURCE_DIR BUILD_DIR VERSION
set -eu
cpack="$1" source="$2" build="$3" version="$4"
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
-rwxr-xr-x usr/bin/sealprobe-roots
-rw-r--r-- usr/share/man/man1/sealprobe.1.gz
-rw-r--r-- usr/share/man/man1/sealprobe-explain.1.gz
-rw-r--r-- usr/share/man/man1/sealprobe-roots.1.gz
-rw-r--r-- lib/systemd/system/sealprobe-roots.service
-rw-r--r-- lib/systemd/system/sealprobe-roots.timer
-rw-r--r-- usr/share/doc/sealprobe/copyright
-rw-r--r-- usr/share/doc/sealprobe/changelog.gz
-rw-r--r-- usr/share/doc/sealprobe/verifier.md.gz
-rw-r--r-- usr/share/doc/sealprobe/releasing.md.gz
-rw-r--r-- usr/share/doc/sealprobe/installers.md.gz
-rw-r--r-- usr/share/lintian/overrides/sealprobe
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
Depends (.*, )?libcurl4( .*)?
END

# No error or warning; informational lines are shown, and the hardening and
# stripping they report are checked below.
lintian --fail-on error,warning --display-info "$deb" || fail "lintian: see above"

dpkg-deb -x "$deb" "$work/unpacked"
bin="$work/unpacked/usr/bin"
for program in sealprobe sealprobe-explain sealprobe-roots; do
  if readelf -SW "$bin/$program" | grep -Eq ' \.(symtab|debug_[a-z_]+|comment|note) '; then
    fail "$program is not stripped"
  fi
  readelf -d "$bin/$program" | grep -q 'Flags: NOW PIE' ||
    fail "$program is not a PIE bound at start"
  # The build's own copy, debug information and all, names no folder of
  # this machine: the same sources build the same package anywhere.
  if grep -qF -e "$source" -e "$build" "$build/$program"; then
    fail "$build/$program holds the source or build folder's path"
  fi
  gzip -dc "$work/unpacked/usr/share/man/man1/$program.1.gz" | grep -q '^\.TH ' ||
    fail "$program.1.gz is not a man page"
done

# Every file of the package a man page names is in it.
for page in "$work"/unpacked/usr/share/man/man1/*.1.gz; do
  for path in $(gzip -dc "$page" | grep -o '/usr/share/doc/[^ ]*\.gz' | sort -u); do
    [ -f "$work/unpacked$path" ] || fail "$(basename "$page") names $path, not in the package"
  done
done

# Only sealprobe-roots touches the network: neither of the others links
# libcurl.
for program in sealprobe sealprobe-explain; do
  if readelf -d "$bin/$program" | grep -q 'NEEDED.*libcurl'; then
    fail "$program links libcurl"
  fi
done
# Nothing enables the timer: the package has no maintainer scripts.
if dpkg-deb -I "$deb" | grep -Eq '^ *[0-9]+ bytes, +[0-9]+ lines +\*? *(pre|post)(inst|rm) '; then
  fail "the package has maintainer scripts"
fi

code=0
out="$("$bin/sealprobe")" || code=$?
[ "$code" -eq 100 ] || fail "sealprobe with no arguments exited $code"
echo "$out" | grep -q '^Synopsis:$' || fail "sealprobe printed no usage: $out"
code=0
"$bin/sealprobe-explain" 2>"$work/usage" || code=$?
[ "$code" -eq 2 ] || fail "sealprobe-explain with no arguments exited $code"
[ -s "$work/usage" ] || fail "sealprobe-explain wrote no usage on stderr"
"$bin/sealprobe-roots" --version | grep -qx "sealprobe-roots $version" ||
  fail "sealprobe-roots --version"
echo "The package holds what it should, and its programs run."
