#!/bin/sh
# fuzz.sh TARGET [BUILD_DIR [SECONDS]]
# Fuzzes one libFuzzer target of the fuzz preset for SECONDS (default 60):
#   args          the command line: argument count, UI level, notice split
#   authenticode  the native verification of a file's bytes
#   compound_file the compound-file reader and the installer's digest walks
#   explain       sealprobe-explain's reports of the same
#   windows_trust the readers of Windows' trust lists, stores and cabinets,
#                 and sealprobe-roots' check of a list's signer
# The corpus grows in BUILD_DIR/corpus/TARGET between runs. Inputs that once
# crashed (src/*/fuzz_regressions/TARGET) are replayed first, and one that
# fails again fails the run before any fuzzing. A crash, an input that takes
# over FUZZ_TIMEOUT seconds (default 2) or a run over 128 MiB of RSS
# (sanitizer shadow included) leaves its input as BUILD_DIR/crash-*,
# timeout-* or oom-* and fails the run. libFuzzer's timeout is wall-clock
# time, so the CTest smoke runs give it a margin a busy machine cannot eat.
#
#   cmake --preset fuzz && cmake --build --preset fuzz
#   scripts/fuzz.sh authenticode build/fuzz 1800
set -eu
target="$1"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${2:-$root/build/fuzz}" && pwd)"
seconds="${3:-60}"
timeout="${FUZZ_TIMEOUT:-2}"
fixtures="$build/fixtures"
corpus="$build/corpus/$target"
mkdir -p "$corpus"

case "$target" in
  args)
    binary="$build/args_fuzz"
    seeds="$root/src/driver/args_fuzz_seeds"
    regressions="$root/src/driver/fuzz_regressions/args"
    ;;
  authenticode|explain)
    binary="$build/${target}_fuzz"
    [ -d "$fixtures/files" ] || sh "$root/src/authenticode/testdata/make_fixtures.sh" "$fixtures" >/dev/null
    seeds="$build/corpus/$target-seeds"
    mkdir -p "$seeds"
    cp "$fixtures"/files/* "$fixtures"/pe/*.exe "$seeds"/
    # A cabinet and a trust list: kinds the folder walk lists unchecked.
    cp "$fixtures"/windows/program/authrootstl.cab \
      "$fixtures"/windows/program/disallowedcert.stl "$seeds"/
    regressions="$root/src/$target/fuzz_regressions/$target"
    SEALPROBE_FUZZ_ROOTS="$fixtures/pki/root.crt"
    export SEALPROBE_FUZZ_ROOTS
    ;;
  compound_file)
    binary="$build/compound_file_fuzz"
    [ -d "$fixtures/msi" ] || sh "$root/src/authenticode/testdata/make_fixtures.sh" "$fixtures" >/dev/null
    seeds="$build/corpus/compound_file-seeds"
    mkdir -p "$seeds"
    # The small ones: past the 1 MiB an input may take, a seed is cut.
    for f in "$fixtures"/files/*.msi "$fixtures"/files/*.doc; do
      if [ "$(wc -c < "$f")" -le 1048576 ]; then cp "$f" "$seeds"/; fi
    done
    regressions="$root/src/authenticode/fuzz_regressions/compound_file"
    ;;
  windows_trust)
    binary="$build/windows_trust_fuzz"
    [ -d "$fixtures/windows" ] || sh "$root/src/authenticode/testdata/make_fixtures.sh" "$fixtures" >/dev/null
    seeds="$build/corpus/windows_trust-seeds"
    mkdir -p "$seeds"
    # The first byte chooses the reader (see the target).
    for d in "$fixtures"/windows/*; do
      for f in "$d"/*.stl "$d"/*.sst "$d"/*.cab; do
        [ -f "$f" ] || continue
        case "$f" in
          */disallowedcert.stl) chooser='\001' ;;
          *.stl) chooser='\000' ;;
          *.sst) chooser='\002' ;;
          *.cab) chooser='\003' ;;
        esac
        { printf "$chooser"; cat "$f"; } > "$seeds/$(basename "$d")-$(basename "$f")"
      done
    done
    # A signer's check: the root's DER after its length, then the list.
    openssl x509 -in "$fixtures/pki/ctl-root.crt" -outform DER > "$seeds/root.der"
    n=$(wc -c < "$seeds/root.der")
    { printf '\004'; printf "\\$(printf %o $((n >> 8)))\\$(printf %o $((n & 255)))"
      cat "$seeds/root.der" "$fixtures/windows/chained/authroot.stl"; } > "$seeds/chained-signer"
    rm "$seeds/root.der"
    regressions="$root/src/authenticode/fuzz_regressions/windows_trust"
    ;;
  *)
    echo "unknown target: $target (args, authenticode, compound_file, explain, windows_trust)" >&2
    exit 2
    ;;
esac

# AddressSanitizer keeps up to 256 MiB of freed memory in quarantine by
# default, twice the RSS limit on its own: 16 MiB keeps a run near 85 MiB.
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=16}"
# Leaks in OpenSSL itself, which no input of ours can mend (see the file).
LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/scripts/lsan-suppressions.txt}"
export ASAN_OPTIONS LSAN_OPTIONS
# Single inputs are run with the full unwinder. The fast one, which fuzzing
# needs, stops at OpenSSL's frames (it is built without frame pointers), so
# the suppressions cannot match a leak's stack there.
full_unwind="$ASAN_OPTIONS:fast_unwind_on_malloc=0"
limits="-timeout=$timeout -rss_limit_mb=128"
cd "$build"
log="$build/fuzz-$target.log"
# Each regression runs once, under the same limits; a crash, timeout or OOM
# among them fails the run, with libFuzzer's report.
if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
  # shellcheck disable=SC2086
  if ! ASAN_OPTIONS="$full_unwind" "$binary" -runs=1 $limits \
      "$regressions"/* >"$log" 2>&1; then
    cat "$log" >&2
    echo "fuzz.sh: an input in $regressions fails again" >&2
    exit 1
  fi
  tail -n 2 "$log"
fi
# Fuzzing goes on until the time is up. A leak it finds is replayed with the
# full unwinder: one the suppressions account for is OpenSSL's, and the run
# goes on; any other finding ends it.
end=$(( $(date +%s) + seconds ))
while left=$(( end - $(date +%s) )) && [ "$left" -gt 0 ]; do
  # shellcheck disable=SC2086
  "$binary" -max_total_time="$left" $limits \
    -max_len=1048576 -print_final_stats=1 "$corpus" "$seeds" && exit 0
  leak="$(ls -t leak-* 2>/dev/null | head -n 1)"
  [ -n "$leak" ] || exit 1
  # shellcheck disable=SC2086
  if ! ASAN_OPTIONS="$full_unwind" "$binary" -runs=1 $limits "$leak" \
      >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
  fi
  echo "fuzz.sh: $leak leaks only inside OpenSSL (see the suppressions)" >&2
  # Out of the corpus too, or the next round would start with it.
  for unit in "$corpus"/*; do
    if cmp -s "$unit" "$leak"; then rm -f "$unit"; fi
  done
  rm -f "$leak"
done
