#!/bin/sh
# worst_case_bench.sh [BUILD_DIR]
# The signatures that ask the native tool for the most work (the largest
# valid one, the attacks the caps stop, and the names under constrained CAs
# that the budget on name matching stops), and the compound files that ask
# the most of its reader (cycles in every kind of chain, shared sectors,
# sector shifts and counts no file has, 50,000 siblings, storages 5,000
# deep, a chain that changes FAT sector at every link, sparse files), each
# run once through the tool with /usr/bin/time reading its own processor
# time and peak RSS. Prints the table; exits 1 when any one takes over 1 s
# of processor time or 64 MiB. Run it on a quiet machine: the test suite
# allows twice that, because a busy machine stretches processor time.
#
#   BUILD_DIR  the native build folder (default: build/native)
#   PYTHON     the interpreter with python3-pefile (default: /usr/bin/python3)
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/native}" && pwd)"
fixtures="$build/bench/fixtures"
[ -x "$build/sealprobe" ] || { echo "no $build/sealprobe: build the native preset first" >&2; exit 1; }
if [ ! -f "$fixtures/files/msi-big-v3.msi" ]; then
  sh "$root/src/authenticode/testdata/make_fixtures.sh" "$fixtures" >/dev/null
fi
exec "${PYTHON:-/usr/bin/python3}" "$root/src/authenticode/mutation_test.py" --tool "$build/sealprobe" \
  --fixtures "$fixtures" --report --targets \
  MutationTest.test_signatures_that_ask_for_work \
  MutationTest.test_trust_folders_that_ask_for_work \
  MutationTest.test_compound_files_that_ask_for_work
