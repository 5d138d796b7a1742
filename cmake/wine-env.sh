# Sourced by the scripts that run Wine: the build's own prefix, quiet, no
# Mono or Gecko installers, a UTF-8 locale, and the Wine loader this machine
# can run.
#
# Some kernels run no 32-bit programs at all ("Exec format error"), and
# Wine's 32-bit loader with them. On such a machine NOWGLOW_WINE_BITS is 64:
# the Windows tests and the demo then run on the 64-bit build of the same
# sources (build/win64) under wine64, and the checks that must run the
# shipped 32-bit programs themselves are skipped and named.
export WINEPREFIX="${NOWGLOW_WINEPREFIX:-$here/build/wineprefix}"
# Quiet, unless NOWGLOW_WINEDEBUG names Wine's debug channels (err+all, say,
# to see what Wine itself reports about a program that ends without a word).
export WINEDEBUG="${NOWGLOW_WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="

# Wine turns Windows names into Unix ones through the locale's character
# set; without a UTF-8 locale a Cyrillic, Chinese or emoji name cannot be
# made. C.UTF-8 is built into Debian's C library.
case "$(LC_ALL=${LC_ALL:-} locale charmap 2>/dev/null)" in
    UTF-8) ;;
    *) export LC_ALL=C.UTF-8 ;;
esac

if [ -z "${NOWGLOW_WINE_BITS:-}" ]; then
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        NOWGLOW_WINE_BITS=32
    else
        NOWGLOW_WINE_BITS=64
    fi
fi
export NOWGLOW_WINE_BITS
# Debian's wine and wineserver commands pick the 32-bit programs whenever
# they are installed, runnable or not; on a 64-bit-only machine the 64-bit
# ones are named directly.
if [ "$NOWGLOW_WINE_BITS" = 64 ]; then
    NOWGLOW_WINE=/usr/lib/wine/wine64
    NOWGLOW_WINESERVER=/usr/lib/wine/wineserver64
    export WINELOADER=/usr/lib/wine/wine64
    export WINESERVER=/usr/lib/wine/wineserver64
else
    NOWGLOW_WINE=wine
    NOWGLOW_WINESERVER=wineserver
fi
