#!/bin/sh
# windows_trust_bench.sh [BUILD_DIR]
# What loading Windows' root program costs: a folder of BENCH_ROOTS (515,
# as Microsoft's list of 2026) roots laid out as certutil -syncWithWU and
# -generateSSTFromWU write it (the list in authrootstl.cab, each root as
# <SHA1>.crt and all of them again in roots.sst, every root listed with the
# properties Windows' own list carries), made here with the CTL generator
# of the tests. sealprobe-explain loads the folder before any file, so its
# processor time on a file that needs no chain, with the folder and
# without, differs by the loading cost.
#
#   BUILD_DIR    the native build folder (default: build/native)
#   BENCH_ROOTS  roots in the folder (default 515)
#   BENCH_RUNS   timed runs of each (default 21)
#
# Target: under 50 ms. Exits 1 when it is missed.
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="$(cd "${1:-$root/build/native}" && pwd)"
roots="${BENCH_ROOTS:-515}"
runs="${BENCH_RUNS:-21}"
explain="$build/sealprobe-explain"
work="$build/bench/windows-trust-$roots"
make_trust="$root/src/authenticode/root_program/testdata/make_windows_trust.py"

[ -x "$explain" ] || { echo "no $explain: build the native preset first" >&2; exit 1; }
if [ ! -f "$work/folder/authrootstl.cab" ]; then
  echo "making a folder of $roots roots (once)..."
  rm -rf "$work" && mkdir -p "$work/certs" "$work/folder"
  openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Bench CTL Signer" \
    -keyout "$work/signer.key" -out "$work/signer.crt" -days 3650 2>/dev/null
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 \
    -out "$work/root.key" 2>/dev/null
  i=1
  specs=""
  while [ "$i" -le "$roots" ]; do
    cert="$work/certs/root$i.crt"
    openssl req -x509 -key "$work/root.key" -subj "/O=Bench/CN=Bench Root $i" \
      -days 3650 -addext "basicConstraints=critical,CA:TRUE" -out "$cert"
    sha1="$(openssl x509 -in "$cert" -noout -fingerprint -sha1 |
      cut -d= -f2 | tr -d :)"
    openssl x509 -in "$cert" -outform DER -out "$work/folder/$sha1.crt"
    specs="$specs $cert,eku=cs+ts+tls,notbefore=2030-01-01,notbefore-eku=ts"
    i=$((i + 1))
  done
  # shellcheck disable=SC2086
  python3 "$make_trust" ctl "$work/authroot.stl" roots "$work/signer.crt" \
    "$work/signer.key" $specs
  # shellcheck disable=SC2046
  python3 "$make_trust" sst "$work/folder/roots.sst" $(ls "$work"/certs/*.crt)
  (cd "$work" && gcab -c -z folder/authrootstl.cab authroot.stl)
fi
printf 'This is not a program.\n' > "$work/notpe.txt"

python3 - "$explain" "$work/folder" "$work/notpe.txt" "$runs" "$roots" <<'PY'
import os, subprocess, sys
explain, folder, file, runs, roots = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]
# Set but empty: OpenSSL's store, not a folder sealprobe-roots synced.
env = dict(os.environ, SEALPROBE_WINDOWS_TRUST="")

def cpu(args):
    """Processor time (user + system) of one run, from the kernel's own
    accounting of the child."""
    process = subprocess.Popen([explain] + args + [file], env=env,
                               stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    return usage.ru_utime + usage.ru_stime

def median(values):
    values = sorted(values)
    return values[len(values) // 2]

cpu([]), cpu(["--windows-trust", folder])  # warm-up
plain, loaded = [], []
for _ in range(runs):  # interleaved, so that load elsewhere falls on both
    plain.append(cpu([]))
    loaded.append(cpu(["--windows-trust", folder]))
cost = (median(loaded) - median(plain)) * 1000
print("folder: %s (%s roots, %d files), %d runs each" % (
    folder, roots, len(os.listdir(folder)), runs))
print("sealprobe-explain CPU, median: %.1f ms without the folder, %.1f ms "
      "with it" % (median(plain) * 1000, median(loaded) * 1000))
print("%s  loading costs under 50 ms (%.1f ms)" % (
    "PASS" if cost < 50 else "FAIL", cost))
sys.exit(0 if cost < 50 else 1)
PY
