# Sourced by the packing scripts.

# The time every packed file gets: the last commit's, or SOURCE_DATE_EPOCH
# when set; without a commit, 2000-01-01 00:00:00 UTC (any fixed time after
# 1980 will do).
pack_epoch() {
    epoch=${SOURCE_DATE_EPOCH:-$(git -C "$1" log -1 --format=%ct 2>/dev/null || true)}
    echo "${epoch:-946684800}"
}

# pack_zip STAGE ZIPFILE EPOCH writes
# STAGE/SHA256SUMS over every other file, then a reproducible zip of the
# stage: every file with the time EPOCH, the same permissions, no extra
# attributes, the files in sorted order. The same stage gives the same bytes.
pack_zip() {
    stage=$1
    zipfile=$2
    epoch=$3
    (
        cd "$stage" || exit 1
        find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort >../files
        # shellcheck disable=SC2046
        sha256sum $(cat ../files) >SHA256SUMS
        echo SHA256SUMS >>../files
        LC_ALL=C sort -o ../files ../files
        find . -type d -exec chmod 755 {} +
        find . -type f -exec chmod 644 {} +
        find . -exec touch -h -d "@$epoch" {} +
        rm -f ../package.zip
        # -X: no extra attributes (owner, extended times); -D: no folder
        # entries. zip stores local times: in UTC they are the same on
        # every machine.
        TZ=UTC zip -X -D -9 -q ../package.zip -@ <../files
    ) || return 1
    mv "$stage/../package.zip" "$zipfile"
    rm -f "$stage/../files"
}
