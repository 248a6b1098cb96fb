#!/bin/sh
# pipeline_bench.sh [BUILD_DIR] [FOLDER...]
# Many files in one call, as a release pipeline checks them: files per
# second and peak memory of the native verifier on one job and on N, against
# `osslsigncode verify` run once per file, over the same files, side by
# side. The verifier runs as sealprobe-explain --jobs N will run it (the
# files collected from folder arguments, each verified with its
# explanation, the results written in order): through BUILD_DIR's
# pipeline_driver, until sealprobe-explain takes --jobs. The sets:
#
#   fixtures   the signed test fixtures, every status among them
#   small      BENCH_SMALL (default 600) small programs in 20 folders,
#              each signed on its own
#   FOLDER...  folders of your own, such as real signed programs, walked
#              for programs (their chains judged against the system store)
#
#   BUILD_DIR    the native build folder (default: build/native); the
#                benchmark's files are kept in BUILD_DIR/bench and reused
#   BENCH_JOBS   N (default: the number of processors)
#   BENCH_RUNS   timed runs of each command (default 5), interleaved
#
# Prints, per set, each command's median wall-clock and processor time, the
# files per second that gives and its peak resident memory, then the
# ratios. It judges no figure; it exits 1 only when N jobs write other
# lines than one job does, or something it needs is missing. Run it on a
# quiet machine.
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="$(cd "${1:-$root/build/native}" && pwd)"
[ $# -gt 0 ] && shift
jobs="${BENCH_JOBS:-$(nproc)}"
runs="${BENCH_RUNS:-5}"
small="${BENCH_SMALL:-600}"
driver="$build/pipeline_driver"
work="$build/bench"

[ -x "$driver" ] || { echo "no $driver: build the native preset first" >&2; exit 1; }
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

python3 - "$driver" "$jobs" "$runs" "$fixtures/pki/anchors.pem" "$work/peak" \
  "fixtures=$fixtures/files" "small=$set_dir" "$@" <<'PY'
import os, subprocess, sys, time

driver, jobs, runs, anchors = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
peak_file = sys.argv[5]
sets = [a.split("=", 1) if "=" in a else [os.path.basename(a.rstrip("/")), a]
        for a in sys.argv[6:]]

def run(argv, env):
    """One process: (wall s, cpu s, peak RSS KiB, stdout). Processor time
    from the kernel's accounting of the child; the peak from /usr/bin/time,
    because a child forked from this interpreter would keep its peak across
    exec."""
    start = time.monotonic()
    p = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak_file] + argv,
                         env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL)
    out = p.stdout.read()
    _, _, usage = os.wait4(p.pid, 0)
    wall = time.monotonic() - start
    with open(peak_file) as f:
        peak = int(f.read().split()[-1])
    return wall, usage.ru_utime + usage.ru_stime, peak, out

def osslsigncode(files, ca, env):
    """osslsigncode verify, one call per file, one after another."""
    wall = cpu = peak = 0
    for f in files:
        argv = ["osslsigncode", "verify"] + (["-CAfile", ca] if ca else [])
        w, c, m, _ = run(argv + ["-in", f], env)
        wall, cpu, peak = wall + w, cpu + c, max(peak, m)
    return wall, cpu, peak, b""

def median(values):
    values = sorted(values)
    return values[len(values) // 2]

failed = False
print("%d runs of each, interleaved, page cache warm; N = %d jobs" % (runs, jobs))
for name, folder in sets:
    ours = name in ("fixtures", "small")
    env = dict(os.environ)
    env.pop("SEALPROBE_WINDOWS_TRUST", None)
    if ours:
        env["SSL_CERT_FILE"] = anchors
    ca = anchors if ours else None
    files = run([driver, "--list", folder], env)[3].decode().splitlines()
    size = sum(os.path.getsize(f) for f in files)
    commands = {
        "1 job": lambda: run([driver, "--jobs", "1", folder], env),
        "%d jobs" % jobs: lambda: run([driver, "--jobs", str(jobs), folder], env),
        "osslsigncode": lambda: osslsigncode(files, ca, env),
    }
    samples = {label: [] for label in commands}
    outputs = {}
    for label, command in commands.items():  # warm-up
        outputs[label] = command()[3]
    if outputs["1 job"] != outputs["%d jobs" % jobs]:
        print("FAIL  %s: %d jobs write other lines than one job" % (name, jobs))
        failed = True
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
