#!/usr/bin/env bash
# Builds the Debian packages with CPack from an already built tree, then checks what their control
# data promises: the project's version, dependencies read from the binaries plus the ODBC driver,
# the stand-in server suggested, and the files each package carries.
#   package_build.sh BUILD_DIR OUT_DIR VERSION
set -uo pipefail
build=$1 out=$2 version=$3
arch=$(dpkg --print-architecture)
rm -rf "$out"
mkdir -p "$out"
if ! cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log"
    exit 1
fi
failed=0
fail() { echo "FAIL: $*"; failed=1; }

zelvaro=$out/zelvaro_${version}_${arch}.deb
devserver=$out/zelvaro-devserver_${version}_${arch}.deb
backup=$out/zelvaro-backup_${version}_${arch}.deb
for deb in "$zelvaro" "$devserver" "$backup"; do
    [ -f "$deb" ] || { fail "no $(basename "$deb") among: $(ls "$out")"; exit 1; }
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb: version $(dpkg-deb -f "$deb" Version)"
done

field_has() { # field_has DEB FIELD ITEM: ITEM is one of the comma-separated entries of FIELD
    local value
    value=$(dpkg-deb -f "$1" "$2")
    tr ',' '\n' <<<"$value" | sed 's/^ *//; s/ *(.*//' | grep -qx -- "$3" ||
        fail "$(basename "$1"): $2 lacks $3: $value"
}
# Read from the binaries: the window's Qt and ODBC libraries, and the C++ runtime of both.
for library in libqt6widgets6 libqt6gui6 libqt6core6 libodbc2 libstdc++6; do
    field_has "$zelvaro" Depends "$library"
done
field_has "$devserver" Depends libstdc++6
field_has "$devserver" Depends libssl3
field_has "$zelvaro" Depends tdsodbc
field_has "$zelvaro" Depends unixodbc
field_has "$zelvaro" Depends qt6-translations-l10n
field_has "$zelvaro" Suggests zelvaro-devserver
# The backup command runs on servers without a display: Qt Core and the ODBC driver, nothing graphical.
for library in libqt6core6 libodbc2 tdsodbc unixodbc; do
    field_has "$backup" Depends "$library"
done
dpkg-deb -f "$backup" Depends | grep -q -i -E 'libqt6(gui|widgets)' && fail "zelvaro-backup depends on Qt's GUI: $(dpkg-deb -f "$backup" Depends)"
dpkg-deb -f "$zelvaro" Depends | grep -q zelvaro-backup && fail "the window's package depends on zelvaro-backup"
dpkg-deb -f "$devserver" Depends | grep -q -i qt && fail "zelvaro-devserver depends on Qt: $(dpkg-deb -f "$devserver" Depends)"

contains() { # contains DEB PATH...: the package carries each PATH, and nothing outside /usr
    local deb=$1 listing path
    shift
    listing=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
    for path in "$@"; do
        grep -qx -- "$path" <<<"$listing" || fail "$(basename "$deb") lacks $path"
    done
    grep -v -E '^/$|^/usr(/|$)' <<<"$listing" | grep . && fail "$(basename "$deb") installs outside /usr"
}
icons=()
for size in 16 22 24 32 48 64 128 256; do icons+=("/usr/share/icons/hicolor/${size}x${size}/apps/zelvaro.png"); done
contains "$zelvaro" /usr/bin/zelvaro /usr/share/applications/zelvaro.desktop \
    /usr/share/icons/hicolor/scalable/apps/zelvaro.svg "${icons[@]}" \
    /usr/share/metainfo/ua.zelvaro.zelvaro.metainfo.xml /usr/share/man/man1/zelvaro.1.gz \
    /usr/share/doc/zelvaro/copyright /usr/share/doc/zelvaro/changelog.gz
contains "$devserver" /usr/bin/zelvaro-devserver /usr/share/man/man1/zelvaro-devserver.1.gz \
    /usr/share/doc/zelvaro-devserver/copyright /usr/share/doc/zelvaro-devserver/changelog.gz
contains "$backup" /usr/bin/zelvaro-backup /usr/share/man/man1/zelvaro-backup.1.gz \
    /usr/lib/systemd/system/zelvaro-backup@.service /usr/lib/systemd/system/zelvaro-backup@.timer \
    /usr/share/doc/zelvaro-backup/copyright /usr/share/doc/zelvaro-backup/changelog.gz
dpkg-deb -c "$zelvaro" | grep -q zelvaro-backup && fail "zelvaro carries the backup command's files"
dpkg-deb -c "$zelvaro" | grep -q zelvaro-devserver && fail "zelvaro carries the stand-in server's files"

[ $failed -eq 0 ] && echo "built $(basename "$zelvaro"), $(basename "$backup") and $(basename "$devserver")"
exit $failed
