#!/usr/bin/env bash
# Soak run of the thumbnail grid, not part of the tests:
#   bench/soak.sh [SECONDS] [pixorama_soak options...]
# Makes (once) folders of the mixed corpus under $PIXORAMA_SOAK_DIR (default
# /tmp/pixorama-soak): four shares of a bench/make-corpus folder, the sample folder and the
# public test-image corpus, damaged files included. The grid then switches between them
# several times a second for SECONDS (default 300) while files are added, rewritten, cut
# and removed beneath it. Prints thumbnails per second, memory after each round of the
# folders, the peak, and whether the program crashed. PIXORAMA_SOAK_BINARY runs another
# build of bench/soak.cpp instead, such as one with the address sanitizer (its memory
# figures then say nothing, as freed blocks wait in its quarantine).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-300}
[ $# -gt 0 ] && shift

tools/build.sh > /dev/null
soak=${PIXORAMA_SOAK_DIR:-/tmp/pixorama-soak}
if [ ! -f "$soak/.made" ]; then
    echo "making the soak folders in $soak"
    rm -rf "$soak"
    mkdir -p "$soak"
    bench/make-corpus "$soak/mixed" --scale 4 > /dev/null
    for i in 0 1 2 3; do mkdir -p "$soak/share-$i"; done
    n=0
    for f in "$soak"/mixed/*; do
        mv "$f" "$soak/share-$((n % 4))/"
        n=$((n + 1))
    done
    rmdir "$soak/mixed"
    cp -r build/samples "$soak/samples"
    testdata=$root/../shared/testdata
    if [ -d "$testdata" ]; then
        # One folder per folder of the corpus that holds files.
        while IFS= read -r -d '' dir; do
            rel=${dir#"$testdata"/}
            target=$soak/corpus-${rel//\//-}
            mkdir -p "$target"
            find "$dir" -maxdepth 1 -type f -exec cp {} "$target/" \;
        done < <(find "$testdata" -mindepth 1 -type d -print0)
    else
        echo "note: no test-image corpus at $testdata; soaking without its damaged files"
    fi
    touch "$soak/.made"
fi
folders=()
for d in "$soak"/*/; do folders+=("${d%/}"); done

echo "soaking ${#folders[@]} folders for $seconds s"
set +e
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp}
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} ${PIXORAMA_SOAK_BINARY:-build/pixorama_soak} --seconds "$seconds" "$@" \
    "${folders[@]}"
status=$?
set -e
if [ $status -gt 128 ]; then
    echo "crashed: signal $((status - 128))"
elif [ $status -ne 0 ]; then
    echo "failed: exit status $status"
else
    echo "crashes            none"
fi
exit $status
