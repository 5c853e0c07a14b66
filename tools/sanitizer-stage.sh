#!/usr/bin/env bash
# The sanitizer stages of CI, one per call; each builds into a folder of its own and fails
# on any sanitizer report.
#   tools/sanitizer-stage.sh asan          every test again under ASan and UBSan (build-asan)
#   tools/sanitizer-stage.sh fuzz-replay   the seed corpora and every input that ever crashed,
#                                          hung or leaked, through the libFuzzer targets with
#                                          their memory limits (build-fuzz)
#   tools/sanitizer-stage.sh tsan          the worker-thread tests under ThreadSanitizer
#                                          (build-tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

configure() {  # configure BUILD_DIR cmake-args...: configures once
    local dir=$1
    shift
    [ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja -DENABLE_BENCHMARKS=OFF "$@"
}

case "${1:-}" in
asan)
    tools/ensure_deps.sh
    configure build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=ON -DBUILD_TESTING=ON
    cmake --build build-asan --parallel "$jobs"
    # Each test sets LSAN_OPTIONS to the suppressions for the font library's caches.
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:suppressions=$root/tests/asan.supp
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ctest --test-dir build-asan --output-on-failure --parallel "$jobs" --timeout 900
    ;;
fuzz-replay)
    tools/ensure_deps.sh clang libclang-rt-dev
    build=${PIXORAMA_FUZZ_BUILD:-$root/build-fuzz}
    if [ ! -f "$build/build.ninja" ]; then
        CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DENABLE_FUZZING=ON -DBUILD_TESTING=OFF -DENABLE_BENCHMARKS=OFF
    fi
    targets=()
    for source in fuzz/*_fuzzer.cpp; do
        name=$(basename "$source" _fuzzer.cpp)
        targets+=("$name")
    done
    cmake --build "$build" --parallel "$jobs" --target "${targets[@]/%/_fuzzer}"
    export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
    export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    for name in "${targets[@]}"; do
        files=()
        while IFS= read -r -d '' f; do files+=("$f"); done < <(
            find "fuzz/corpus/$name" "tests/data/crashers/$name" -type f -print0 2>/dev/null | sort -z)
        echo "replaying ${#files[@]} inputs through ${name}_fuzzer"
        # The same limits as the long runs, with time to spare for the slow inputs kept on
        # purpose; the fuzzer exits non-zero on a crash, a leak, a timeout or too much memory.
        "$build/${name}_fuzzer" -rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=60 \
            "${files[@]}" > "$build/replay-$name.log" 2>&1 || {
            cat "$build/replay-$name.log"
            echo "fuzz replay of $name failed" >&2
            exit 1
        }
    done
    ;;
tsan)
    tools/ensure_deps.sh
    configure build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=thread -DBUILD_TESTING=ON
    cmake --build build-tsan --parallel "$jobs" \
        --target platform_tests thumbs_tests thumbview_tests foldertree_tests app_tests viewer_tests \
        i18n_tests
    # Qt is not built with the sanitizer and its mutexes are futexes the sanitizer cannot
    # see, so the copies Qt makes inside its own locked containers (the posted-event list a
    # worker's hand-over appends to) would look like races. Memory functions called from
    # modules that are not instrumented go unchecked; their thread and lock calls still
    # count, and every access of our own code is checked.
    export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1"
    ctest --test-dir build-tsan --output-on-failure --parallel "$jobs" --timeout 900 --no-tests=error \
        -R '(^|/)(ThreadTest|DiscMonitorTest|ByteBudgetTest|ThumbThreadTest|ThumbThreadWriteFailureTest|ThumbGridTest|ThumbGridFollowTest|ShellTreeMonitorTest|ShellTreeVolumes|PixoramaFormTest|ViewerTest|LocaleTest)\.'
    ;;
*)
    echo "usage: $0 asan|fuzz-replay|tsan" >&2
    exit 2
    ;;
esac
