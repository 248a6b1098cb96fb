#!/bin/sh
# fuzz.sh TARGET [BUILD_DIR [SECONDS]]
# Fuzzes one libFuzzer target of the fuzz preset for SECONDS (default 60):
#   args          the command line: argument count, UI level, notice split
#   authenticode  the native verification of a file's bytes
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
  authenticode)
    binary="$build/authenticode_fuzz"
    [ -d "$fixtures/files" ] || sh "$root/src/authenticode/testdata/make_fixtures.sh" "$fixtures" >/dev/null
    seeds="$build/corpus/authenticode-seeds"
    mkdir -p "$seeds"
    cp "$fixtures"/files/* "$fixtures"/pe/*.exe "$seeds"/
    regressions="$root/src/authenticode/fuzz_regressions/authenticode"
    SEALPROBE_FUZZ_ROOTS="$fixtures/pki/root.crt"
    export SEALPROBE_FUZZ_ROOTS
    ;;
  *)
    echo "unknown target: $target (args, authenticode)" >&2
    exit 2
    ;;
esac

# AddressSanitizer keeps up to 256 MiB of freed memory in quarantine by
# default, twice the RSS limit on its own: 16 MiB keeps a run near 85 MiB.
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=16}"
export ASAN_OPTIONS
cd "$build"
# Each regression runs once, under the same limits; a crash, timeout or OOM
# among them fails the run, with libFuzzer's report.
if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
  log="$build/regressions-$target.log"
  if ! "$binary" -runs=1 -timeout="$timeout" -rss_limit_mb=128 "$regressions"/* \
      >"$log" 2>&1; then
    cat "$log" >&2
    echo "fuzz.sh: an input in $regressions fails again" >&2
    exit 1
  fi
  tail -n 2 "$log"
fi
exec "$binary" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=128 \
  -max_len=1048576 -print_final_stats=1 "$corpus" "$seeds"
