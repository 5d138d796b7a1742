# What the release checks share, sourced by each: check DESCRIPTION COMMAND...
# runs the command, prints "ok: DESCRIPTION" or "FAILED: DESCRIPTION", and
# counts the failures in $failures.
failures=0

check() {
    description=$1
    shift
    if "$@"; then
        echo "ok: $description"
    else
        echo "FAILED: $description"
        failures=$((failures + 1))
    fi
}
