#!/bin/sh
# The code health gates over the C++ sources of the plug-in, the tests and the
# tools (never build/):
#   clang-format  the layout of .clang-format, with Debian's clang-format 14;
#   clang-tidy    the checks of .clang-tidy, over the compilation databases
#                 of the native build (portable code, native tests) and of
#                 the cross build (the Windows-facing code, the Wine-run
#                 tests, the tools); a source in neither, such as a stress
#                 test or a benchmark, borrows the flags of its neighbours in
#                 the native database;
#   cppcheck      cppcheck 2.10's warning, style, performance and portability
#                 checks.
# Each gate prints what it finds and the run fails if any gate finds anything.
#
#   cmake/lint.sh                  run every gate (make lint)
#   cmake/lint.sh format           rewrite the sources in place (make format)
#   cmake/lint.sh GATE...          run only the named gates (clang-format,
#                                  clang-tidy, cppcheck)
#
# A database that is missing is configured first from its preset (native,
# win32), as the Makefile's native and build targets do; nothing is compiled.
# LINT_JOBS (default 2): clang-tidy processes run at once.
# LINT_NATIVE_DB, LINT_WIN32_DB (default build/native, build/win32): the
# build trees whose compilation databases clang-tidy reads.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here" || exit 1

jobs=${LINT_JOBS:-2}
native_db=${LINT_NATIVE_DB:-build/native}
win32_db=${LINT_WIN32_DB:-build/win32}

clang_format=clang-format-14
clang_tidy=clang-tidy-14
cppcheck=cppcheck

# Every C and C++ source and header of the plug-in, the tests and the tools.
sources() {
    find plugin host presence monitor settings appid tests tools -type f \
        \( -name '*.c' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \) | LC_ALL=C sort
}

need() {
    if ! command -v "$1" >/dev/null 2>&1; then
        echo "lint: $1 is missing (make deps installs it)" >&2
        exit 2
    fi
}

# Rewrites every source in the layout of .clang-format.
format_sources() {
    need "$clang_format"
    sources | xargs "$clang_format" -i --style=file
}

# Fails when clang-format would change any source, showing the changes.
check_format() {
    need "$clang_format"
    bad=0
    for file in $(sources); do
        if ! "$clang_format" --style=file "$file" |
            diff -u --label "$file" --label "$file (formatted)" "$file" -; then
            bad=$((bad + 1))
        fi
    done
    if [ "$bad" -ne 0 ]; then
        echo "clang-format: $bad file(s) not in the project's layout; 'make format' rewrites them"
        return 1
    fi
}

# Configures a build tree when its compilation database is missing.
ensure_database() {
    dir=$1
    preset=$2
    [ -f "$dir/compile_commands.json" ] && return 0
    echo "lint: configuring $dir for its compilation database"
    if ! cmake --preset "$preset" -B "$dir" >"$work/configure.log" 2>&1; then
        cat "$work/configure.log"
        return 1
    fi
}

# The sources listed in a compilation database, one absolute path a line.
database_files() {
    sed -n 's/^ *"file": *"\([^"]*\)".*/\1/p' "$1/compile_commands.json" | LC_ALL=C sort -u
}

# Runs clang-tidy over every .cpp, each with the database that builds it.
check_tidy() {
    need "$clang_tidy"
    ensure_database "$native_db" native || return 1
    ensure_database "$win32_db" win32 || return 1
    database_files "$native_db" >"$work/native.list"
    database_files "$win32_db" >"$work/win32.list"

    # clang does not find the C++ headers of Debian's MinGW compilers (their
    # version directory is "12-posix"), so they are named from the compiler
    # itself; the target makes clang read the Windows headers as MinGW does.
    cross=$(sed -n 's/^ *"command": *"\([^ ]*\) .*/\1/p' "$win32_db/compile_commands.json" | head -n 1)
    : >"$work/cross.args"
    if [ -n "$cross" ]; then
        {
            echo "--extra-arg-before=--target=i686-w64-mingw32"
            echo "--extra-arg=-nostdinc++"
            echo | "$cross" -x c++ -E -v - 2>&1 |
                sed -n '/search starts here:/,/End of search list/s|^ \(/.*/include/c++.*\)$|--extra-arg=-isystem\1|p'
        } >"$work/cross.args"
    fi

    # One line per source: database, analyser on or off, path. The static
    # analyser is left out of GoogleTest and benchmark bodies: their macros
    # make it slow there, and the sanitizers run those bodies anyway.
    : >"$work/tidy.jobs"
    for file in $(sources); do
        case "$file" in *.c | *.cpp) ;; *) continue ;; esac
        path="$here/$file"
        db=native
        if grep -qxF "$path" "$work/win32.list" && ! grep -qxF "$path" "$work/native.list"; then
            db=win32
        fi
        analyser=on
        case "$file" in
            *_test.cpp | *_stress.cpp | tests/bench/*) analyser=off ;;
        esac
        echo "$db $analyser $file" >>"$work/tidy.jobs"
    done

    export clang_tidy native_db win32_db work
    # shellcheck disable=SC2016
    <"$work/tidy.jobs" xargs -P "$jobs" -L 1 sh -c '
        db=$1 analyser=$2 file=$3
        log="$work/tidy.$(echo "$file" | tr / _).log"
        set -- --quiet
        [ "$analyser" = off ] && set -- "$@" "--checks=-clang-analyzer-*"
        if [ "$db" = win32 ]; then
            set -- "$@" -p "$win32_db"
            while read -r arg; do set -- "$@" "$arg"; done <"$work/cross.args"
        else
            set -- "$@" -p "$native_db"
        fi
        if ! "$clang_tidy" "$@" "$file" >"$log" 2>&1; then
            echo "$file" >>"$work/tidy.failed"
        else
            rm -f "$log"
        fi
    ' sh
    [ -s "$work/tidy.failed" ] || return 0
    # A header's finding shows once, however many sources include it; a
    # source that failed without a finding (a crash, a bad database) shows
    # its whole log.
    for log in "$work"/tidy.*.log; do
        grep -q ': error: ' "$log" || cat "$log"
    done
    cat "$work"/tidy.*.log | grep ': error: ' | sed "s|^$here/||" | LC_ALL=C sort -u >"$work/tidy.findings"
    cat "$work/tidy.findings"
    echo "clang-tidy: $(wc -l <"$work/tidy.findings") finding(s), from $(wc -l <"$work/tidy.failed") source(s);" \
        "an inline '// NOLINT(check): reason' where a finding is intended"
    return 1
}

# Runs cppcheck over every source file at once; headers are checked where
# they are included (alone, every struct member would look unused).
check_cppcheck() {
    need "$cppcheck"
    # Off, and why:
    #  useStlAlgorithm: a plain loop is the house style, not an algorithm.
    #  constParameter, constParameterCallback: a callback's or a slot's
    #    signature is fixed by its caller (the player, Windows, the presence
    #    library, Google Benchmark), and a window handle is a pointer type
    #    that nobody dereferences; clang-tidy's
    #    readability-non-const-parameter covers the data pointers.
    #  unusedStructMember: the player and the library read the members of
    #    the interface records, and members read through a container look
    #    unused to it.
    #  missingIncludeSystem: the system's and GoogleTest's headers are not
    #    analysed.
    # shellcheck disable=SC2046
    "$cppcheck" --quiet --error-exitcode=1 --inline-suppr -j "$jobs" \
        --enable=warning,style,performance,portability --std=c++17 --language=c++ \
        --library=googletest --library=windows -I . -I tests/native \
        --suppress=missingIncludeSystem --suppress=useStlAlgorithm --suppress=constParameter \
        --suppress=constParameterCallback --suppress=unusedStructMember \
        --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
        $(sources | grep -v '\.h')
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ "$#" -eq 1 ] && [ "$1" = format ]; then
    format_sources
    exit $?
fi

[ "$#" -eq 0 ] && set -- clang-format clang-tidy cppcheck
failed=""
for gate in "$@"; do
    start=$(date +%s)
    case "$gate" in
        clang-format) check_format ;;
        clang-tidy) check_tidy ;;
        cppcheck) check_cppcheck ;;
        *)
            echo "lint: unknown gate '$gate' (clang-format, clang-tidy, cppcheck or format)" >&2
            exit 2
            ;;
    esac
    status=$?
    seconds=$(($(date +%s) - start))
    if [ "$status" -eq 0 ]; then
        echo "lint: $gate clean (${seconds}s)"
    else
        echo "lint: $gate FAILED (${seconds}s)"
        failed="$failed $gate"
    fi
done
if [ -n "$failed" ]; then
    echo "lint: failed:$failed"
    exit 1
fi
