#!/bin/sh
# pipeline_bench.sh [BUILD_DIR] [FOLDER...]
# Many files in one call, as a release pipeline checks them: files per
# second and peak memory of `sealprobe-explain --jobs 1` against
# `sealprobe-explain --jobs N`, and against `osslsigncode verify` run once
# per file, over the same files, side by side in one run. The sets:
#
#   fixtures   the signed test fixtures, every status among them
#   small      BENCH_SMALL (default 600) small programs in 20 folders,
#              each signed on its own
#   FOLDER...  folders of your own, such as real signed programs, walked
#              for programs (their chains judged against the system store)
#
#   BUILD_DIR    the native build folder (default: build/native); the
#                benchmark's files are kept in BUILD_DIR/bench and reused
#   BENCH_JOBS   N (default: the number of processors, at least 2)
#   BENCH_RUNS   timed runs of each command (default 5), interleaved
#
# sealprobe-explain writes JSON Lines to /dev/null. Prints, per set, each
# command's median wall-clock and processor time, the files per second
# that gives and its peak resident memory, then the ratios. It judges no
# figure; it exits 1 only when N jobs report other than one job does (the
# checking time of unstamped files, each run's start, aside), or something it
# needs is missing. Run it on a quiet machine.
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="$(cd "${1:-$root/build/native}" && pwd)"
[ $# -gt 0 ] && shift
jobs="${BENCH_JOBS:-$(nproc)}"
[ "$jobs" -ge 2 ] || jobs=2
runs="${BENCH_RUNS:-5}"
small="${BENCH_SMALL:-600}"
explain="$build/sealprobe-explain"
work="$build/bench"

[ -x "$explain" ] || { echo "no $explain: build the native preset first" >&2; exit 1; }
command -v osslsigncode >/dev/null || { echo "needs osslsigncode" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (package time)" >&2; exit 1; }
. "$here/fixtures.sh"
set_dir="$work/small-$small"
if [ ! -f "$set_dir/done" ]; then
  echo "signing $small small programs (once)..."
  rm -rf "$set_dir"
  i=0
  while [ "$i" -lt "$small" ]; do
    folder="$set_dir/d$((i % 20))"
    mkdir -p "$folder"
    osslsigncode sign -certs "$fixtures/pki/leaf.crt" \
      -key "$fixtures/pki/leaf.key" -h sha256 -in "$fixtures/pe/small64.exe" \
      -out "$folder/program$i.exe" >/dev/null
    i=$((i + 1))
  done
  : > "$set_dir/done"
fi

python3 - "$explain" "$jobs" "$runs" "$fixtures/pki/anchors.pem" "$work/peak" \
  "fixtures=$fixtures/files" "small=$set_dir" "$@" <<'PY'
import json, os, re, subprocess, sys, time

explain, jobs, runs, anchors = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
peak_file = sys.argv[5]
sets = [a.split("=", 1) if "=" in a else [os.path.basename(a.rstrip("/")), a]
        for a in sys.argv[6:]]

def run(argv, keep=False):
    """One process: (wall s, cpu s, peak RSS KiB, stdout if kept). Processor
    time from the kernel's accounting of the child; the peak from
    /usr/bin/time, because a child forked from this interpreter would keep
    its peak across exec."""
    start = time.monotonic()
    p = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak_file] + argv,
                         stdout=subprocess.PIPE if keep else subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    out = p.stdout.read() if keep else b""
    _, _, usage = os.wait4(p.pid, 0)
    wall = time.monotonic() - start
    with open(peak_file) as f:
        peak = int(f.read().split()[-1])
    return wall, usage.ru_utime + usage.ru_stime, peak, out

def osslsigncode(files, ca):
    """osslsigncode verify, one call per file, one after another."""
    wall = cpu = peak = 0
    for f in files:
        argv = ["osslsigncode", "verify"] + (["-CAfile", ca] if ca else [])
        w, c, m, _ = run(argv + ["-in", f])
        wall, cpu, peak = wall + w, cpu + c, max(peak, m)
    return wall, cpu, peak, b""

def median(values):
    values = sorted(values)
    return values[len(values) // 2]

# The clock's time, which a file without a timestamp (or signed for a
# lifetime) is checked at, differs run to run.
NOW = re.compile(rb'"time": "[^"]*", "why": "(now|lifetime-signing)"')

failed = False
print("%d runs of each, interleaved, page cache warm; N = %d jobs" % (runs, jobs))
for name, folder in sets:
    ours = name in ("fixtures", "small")
    trust = ["--anchors", anchors] if ours else []
    def explain_with(n, keep=False):
        return run([explain, "--jobs", str(n), "--format", "jsonl"] + trust
                   + [folder], keep)
    one_out, many_out = explain_with(1, True)[3], explain_with(jobs, True)[3]
    if NOW.sub(b"", one_out) != NOW.sub(b"", many_out):
        print("FAIL  %s: %d jobs report other than one job" % (name, jobs))
        failed = True
    files = [json.loads(line)["file"] for line in one_out.splitlines()]
    size = sum(os.path.getsize(f) for f in files)
    commands = {
        "1 job": lambda: explain_with(1),
        "%d jobs" % jobs: lambda: explain_with(jobs),
        "osslsigncode": lambda: osslsigncode(files, anchors if ours else None),
    }
    samples = {label: [] for label in commands}
    for _ in range(runs):
        for label, command in commands.items():
            samples[label].append(command()[:3])
    print("\n%s: %d files, %.1f MiB (%s)" % (name, len(files), size / 2**20, folder))
    print("  %-14s %8s %8s %10s %10s" % ("command", "wall s", "CPU s", "files/s", "peak RSS"))
    walls = {}
    for label, s in samples.items():
        wall, cpu, rss = median([x[0] for x in s]), median([x[1] for x in s]), max(x[2] for x in s)
        walls[label] = wall
        print("  %-14s %8.3f %8.3f %10.0f %6d KiB" % (
            label, wall, cpu, len(files) / wall if wall else 0, rss))
    one, many, osc = walls["1 job"], walls["%d jobs" % jobs], walls["osslsigncode"]
    print("  wall-clock ratios: 1 job / %d jobs %.2fx; osslsigncode / 1 job "
          "%.1fx; osslsigncode / %d jobs %.1fx" % (
              jobs, one / many, osc / one, jobs, osc / many))
sys.exit(1 if failed else 0)
PY
