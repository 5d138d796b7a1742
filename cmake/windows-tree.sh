#!/bin/sh
# Builds the Windows tree the tests and the demo run on and prints its
# folder: build/win32, or, on a machine that runs no 32-bit program,
# build/win64 beside it (see wine-env.sh). The 32-bit build is made by
# `make build` in every case: it is what ships.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/cmake/wine-env.sh"
if [ "$NOWGLOW_WINE_BITS" = 64 ]; then
    echo "== note: this machine runs no 32-bit programs: building the 64-bit Windows tree for Wine" >&2
    cmake --preset win64 "$@" >/dev/null
    cmake --build --preset win64 -j "${JOBS:-2}" >&2
    echo "$here/build/win64"
else
    echo "$here/build/win32"
fi
