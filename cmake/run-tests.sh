#!/bin/sh
# Runs every test suite, native and Wine, and closes with one summary line.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
passed=0
failed=0
run_suite() {
    name=$1
    dir=$2
    echo "== $name"
    out=$(mktemp)
    (cd "$here/$dir" && ctest --output-on-failure -j 2 --timeout 600) | tee "$out"
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
run_suite "fuzzing: seed corpus and 30 seconds (libFuzzer, ASan, UBSan)" build/fuzz
run_suite "Windows tests (Wine)" build/win32
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
