#!/usr/bin/env bash
# zelvaro-devserver through FreeTDS's tsql: what BACKUP and RESTORE print and what HEADERONLY
# says about their size. The pages counted are those in use (a new database has the model's), not
# the whole files; BackupSize adds the set's own blocks; and a server on Linux sends each file's
# "Processed" line as soon as that file is copied, between the percent lines, where Windows sends
# every percent line first.
. "${BASH_SOURCE%/*}/conformance_lib.sh"

q() { run_tsql "$1" 7.4 "$2"; }
# The line number of the first line that holds a text, 0 when none does.
line_of() { grep -nF -m1 -- "$2" <<<"$1" | cut -d: -f1 || true; }
# HEADERONLY's BackupSize of the first set.
backup_size() {
    local out=$1 column
    column=$(grep -m1 BackupName <<<"$out" | tr '\t' '\n' | grep -nx BackupSize | cut -d: -f1)
    grep -m1 -A1 BackupName <<<"$out" | tail -1 | cut -f"$column"
}

# version:pages of a new database's data file:whether the percent and "Processed" lines interleave
for triple in 2000:66:no 2008:150:no 2019:360:yes; do
    IFS=: read -r version pages interleaved <<<"$triple"
    start "v$version" "$version"
    p=$port
    d="$work/v$version/data"
    # A data file far larger than what it holds: only the pages in use are counted.
    q "$p" "CREATE DATABASE D ON (NAME = D, FILENAME = N'$d/D.mdf', SIZE = 40MB) LOG ON (NAME = D_log, FILENAME = N'$d/D_log.ldf', SIZE = 8MB)" >/dev/null
    out=$(q "$p" "BACKUP DATABASE D TO DISK = N'$d/D.bak' WITH INIT, STATS = 10")
    check "$version backup pages in use" "$out" "Processed $pages pages for database 'D', file 'D' on file 1." \
        "Processed 2 pages for database 'D', file 'D_log' on file 1." \
        "BACKUP DATABASE successfully processed $((pages + 2)) pages in"
    data_line=$(line_of "$out" "file 'D' on file 1.")
    last_percent=$(grep -n 'percent' <<<"$out" | tail -1 | cut -d: -f1)
    if [ "$interleaved" = yes ]; then
        holds "$version backup: the data file's line comes before the last percent" test "${data_line:-0}" -gt 0 -a "${data_line:-0}" -lt "${last_percent:-0}"
    else
        holds "$version backup: every percent before the files' lines" test "${last_percent:-0}" -gt 0 -a "${last_percent:-0}" -lt "${data_line:-0}"
    fi
    # BackupSize: the pages in 64 KB units and the set's two blocks of its own; FILELISTONLY's
    # BackupSizeInBytes the pages of each file.
    blocks=$(((pages + 2) * 8192 / 65536 + ((pages + 2) * 8192 % 65536 > 0)))
    check "$version headeronly backup size" "$(backup_size "$(q "$p" "RESTORE HEADERONLY FROM DISK = N'$d/D.bak'")")" "$(((blocks + 2) * 65536))"
    if [ "$version" != 2000 ]; then
        check "$version filelist backup size" "$(q "$p" "RESTORE FILELISTONLY FROM DISK = N'$d/D.bak'")" "$(printf '\t%s\t' $((pages * 8192)))"
    fi
    out=$(q "$p" "RESTORE DATABASE E FROM DISK = N'$d/D.bak' WITH STATS = 10, MOVE N'D' TO N'$d/E.mdf', MOVE N'D_log' TO N'$d/E_log.ldf'")
    check "$version restore pages in use" "$out" "Processed $pages pages for database 'E', file 'D' on file 1." \
        "RESTORE DATABASE successfully processed $((pages + 2)) pages in"
    data_line=$(line_of "$out" "file 'D' on file 1.")
    last_percent=$(grep -n 'percent' <<<"$out" | tail -1 | cut -d: -f1)
    if [ "$interleaved" = yes ]; then
        holds "$version restore: interleaved" test "${data_line:-0}" -gt 0 -a "${data_line:-0}" -lt "${last_percent:-0}"
    else
        holds "$version restore: percents first" test "${last_percent:-0}" -gt 0 -a "${last_percent:-0}" -lt "${data_line:-0}"
    fi
    # The restored files keep their full size, whatever the set counted.
    holds "$version restored file size" test "$(stat -c %s "$d/E.mdf")" -eq $((40 * 1024 * 1024))
done

# 2019 playing Windows (--drive) prints as Windows does.
mkdir -p "$work/c/SQLData"
start win 2019 --drive "C=$work/c" --data-dir "$work/c/SQLData"
out=$(q "$port" "CREATE DATABASE W
BACKUP DATABASE W TO DISK = N'C:\\SQLData\\W.bak' WITH STATS = 10")
data_line=$(line_of "$out" "file 'W' on file 1.")
last_percent=$(grep -n 'percent' <<<"$out" | tail -1 | cut -d: -f1)
holds "2019 on Windows: every percent first" test "${last_percent:-0}" -gt 0 -a "${last_percent:-0}" -lt "${data_line:-0}"

finish
