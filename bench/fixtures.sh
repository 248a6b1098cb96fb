# Sourced by the benchmarks, with $root (the checkout) and $work (the
# benchmark's folder) set: makes $work, and $fixtures in it, a PKI and
# fixtures of the benchmarks' own, once, so that tests remaking theirs do
# not invalidate the signed files kept beside them.
mkdir -p "$work"
fixtures="$work/fixtures"
if [ ! -f "$fixtures/pki/leaf.key" ]; then
  echo "making the test PKI..."
  sh "$root/src/authenticode/testdata/make_fixtures.sh" "$fixtures" >/dev/null
fi
