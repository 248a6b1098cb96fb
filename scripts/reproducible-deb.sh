#!/bin/sh
# Shows that the .deb does not depend on where the sources lie: clones this
# repository's last commit twice, into folders of different names and
# lengths, builds the native programs and makes the .deb in each as
# scripts/package.sh does, and compares the two. Uncommitted changes are
# not in the clones. Takes a few minutes; not part of scripts/test.sh.
#   scripts/reproducible-deb.sh [WORK_DIR]
# WORK_DIR (a new temporary folder by default) is emptied first and kept,
# for diffing the packages when they differ.
set -eu
cd "$(dirname "$0")/.."
commit="$(git rev-parse HEAD)"
work="${1:-$(mktemp -d)}"
rm -rf "$work"
mkdir -p "$work"
work="$(cd "$work" && pwd)"

# As scripts/package.sh dates and modes the archives.
SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}"
export SOURCE_DATE_EPOCH
umask 022

for clone in a second-clone-of-sealprobe; do
  git clone -q --no-checkout . "$work/$clone"
  git -C "$work/$clone" checkout -q "$commit"
  (
    cd "$work/$clone"
    cmake --preset native -DBUILD_TESTING=OFF >/dev/null
    cmake --build --preset native >/dev/null
    cpack --config build/native/CPackConfig.cmake -B "$work/$clone-deb" >/dev/null
  )
done

cd "$work"
sha256sum a-deb/*.deb second-clone-of-sealprobe-deb/*.deb
if cmp -s a-deb/*.deb second-clone-of-sealprobe-deb/*.deb; then
  echo "The same .deb from both clones ($commit)."
else
  echo "FAIL: the clones in $work give different packages" >&2
  exit 1
fi
