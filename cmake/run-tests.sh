#!/bin/sh
# Runs every test suite, native and Wine, and closes with one summary line.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
passed=0
failed=0
run_suite() {
    name=$1
    dir=$2
    shift 2
    echo "== $name"
    out=$(mktemp)
    (cd "$here/$dir" && ctest --output-on-failure -j 2 --timeout 600 "$@") | tee "$out"
    p=$(sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2 \1/p' "$out" | tail -n 1)
    if [ -z "$p" ]; then
        failed=$((failed + 1))
    else
        set -- $p
        passed=$((passed + $1 - $2))
        failed=$((failed + $2))
    fi
    rm -f "$out"
}
run_suite "native unit tests (ASan, UBSan)" build/native
run_suite "stress tests (ThreadSanitizer)" build/tsan
run_suite "fuzzing: the seed corpora, then 30 and 10 seconds (libFuzzer, ASan, UBSan)" build/fuzz
. "$here/cmake/wine-env.sh"
if [ "$NOWGLOW_WINE_BITS" = 32 ]; then
    run_suite "Windows tests (Wine)" build/win32
else
    # The 64-bit build stands in for the 32-bit one, but for what only the
    # shipped programs can show; the release's checks read the 32-bit files,
    # so they still run on the 32-bit build.
    shipped_only="binary_properties_test|documentation_pictures|windows_bundle"
    release_checks="release_package|reproducible_build|application_id_identity"
    skipped=$(echo "$shipped_only" | tr '|' '\n' | wc -l)
    # The release's tool is 32-bit; its 64-bit build takes its place.
    export NOWGLOW_APPID_TOOL="$here/build/win64/nowglow-appid.exe"
    echo "== note: this machine runs no 32-bit programs; not run: $shipped_only"
    run_suite "Windows tests (Wine, the 64-bit build)" build/win64 -E "$shipped_only|$release_checks"
    run_suite "checks of the release's files" build/win32 -R "$release_checks"
fi
if [ "${skipped:-0}" -gt 0 ]; then
    echo "$passed passed, $failed failed, $skipped skipped"
else
    echo "$passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
