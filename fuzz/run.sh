#!/usr/bin/env bash
# Runs one fuzz target for a while: fuzz/run.sh TARGET SECONDS [libFuzzer options...]
# TARGET is a name such as tiff, png, psd, bmp, jpeg, thumb_cache, vexa_header, rtf,
# info_document or dict_file. The target is built with clang in build-fuzz; new inputs go to
# build-fuzz/corpus-TARGET (the seed corpus in fuzz/corpus stays as it is), and crash, leak
# and timeout inputs to build-fuzz/artifacts-TARGET. A finding belongs, minimised, in
# tests/data/crashers/TARGET/, which CTest replays.
set -euo pipefail

if [ $# -lt 2 ]; then
    echo "usage: $0 TARGET SECONDS [libFuzzer options...]" >&2
    exit 2
fi
target=$1
seconds=$2
shift 2

root=$(cd "$(dirname "$0")/.." && pwd)
build=${PIXORAMA_FUZZ_BUILD:-$root/build-fuzz}
"$root/tools/ensure_deps.sh" clang libclang-rt-dev

if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DENABLE_FUZZING=ON -DBUILD_TESTING=OFF -DENABLE_BENCHMARKS=OFF
fi
cmake --build "$build" --target "${target}_fuzzer" --parallel "${PIXORAMA_FUZZ_JOBS:-2}"

corpus=$build/corpus-$target
artifacts=$build/artifacts-$target
mkdir -p "$corpus" "$artifacts"
dict=()
[ -f "$root/fuzz/$target.dict" ] && dict=(-dict="$root/fuzz/$target.dict")
crashers=()
[ -d "$root/tests/data/crashers/$target" ] && crashers=("$root/tests/data/crashers/$target")

export QT_QPA_PLATFORM=offscreen
# Pictures up to 64 MiB rather than 1 GiB (see fuzz/fuzz_support.h); the replays in CI use
# the real limit.
export PIXORAMA_FUZZ_PICTURE_LIMIT_MB=${PIXORAMA_FUZZ_PICTURE_LIMIT_MB:-64}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# No single allocation may pass the picture limit by more than 64 MiB, and 2 GiB in all:
# a finding past them is a limit that does not hold. 60 s per input: a legal picture near
# the real limit takes tens of seconds in this instrumented build (a 3 KB CMYK JPEG
# declaring 64 megapixels takes 6 s, linear in its pixels), so only a real hang goes past.
exec "$build/${target}_fuzzer" "$corpus" "$root/fuzz/corpus/$target" "${crashers[@]}" \
    "${dict[@]}" -max_total_time="$seconds" \
    -rss_limit_mb=2048 -malloc_limit_mb=$((PIXORAMA_FUZZ_PICTURE_LIMIT_MB + 64)) -timeout=60 -max_len=1048576 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 "$@"
