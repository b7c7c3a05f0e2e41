#!/usr/bin/env bash
# zelvaro-devserver against clients we did not write: FreeTDS's tsql and unixODBC's isql (with the
# FreeTDS driver, in batch mode with SQLExecDirect: -b -e, so statements arrive as SQL batches, and
# in its default prepared mode, so they arrive as sp_prepexec remote procedure calls). Every
# statement Zelvaro sends, success and failure, on the 2000 and the 2019 personality, with message
# numbers and texts checked.
. "${BASH_SOURCE%/*}/conformance_lib.sh"

run_isql_prepared() { # run_isql_prepared PORT TDSVER STATEMENT...: one statement per line
    printf '%s\n' "${@:3}" | isql -k "Driver=FreeTDS;Server=127.0.0.1;Port=$1;TDS_Version=$2;UID=sa;PWD=pvtmo;ClientCharset=UTF-8" -v 2>&1
}
login_reply() { # login_reply PORT TDSVER -> what the server sent tsql at login, as one hex string
    rm -f "$work/dump"
    printf 'quit\n' | TDSDUMP="$work/dump" TDSVER=$2 timeout 60 tsql -H 127.0.0.1 -p "$1" -U sa -P pvtmo >/dev/null 2>&1
    awk '/Received packet/ { on = 1; next } on && /^[0-9a-f][0-9a-f][0-9a-f][0-9a-f] / { print substr($0, 6, 47); next } { on = 0 }' "$work/dump" | tr -d ' \n-'
}
column_value() { # column_value NAME TSQL_OUTPUT -> the named column of the first row
    awk -F'\t' -v name="$1" 'found { print $col; exit } { for (i = 1; i <= NF; i++) if ($i == name) { col = i; found = 1 } }' <<<"$2"
}

for version in 2000 2019; do
    start "v$version" "$version"
    p=$port
    files="$work/v$version"
    for tds in 7.1 7.2 7.3 7.4; do
        check "$version tds $tds list" "$(run_tsql "$p" "$tds" 'SELECT name FROM master.dbo.sysdatabases')" \
            master tempdb model msdb "(4 rows affected)"
    done
    # A TDS 7.0 client has no collations: it is told the character set (3), the locale (5) and the
    # comparison flags (6) instead, as MS-TDS says ("only sent back to clients running TDS 7.0").
    utf16() { printf '%s' "$1" | iconv -t UTF-16LE | od -An -tx1 | tr -d ' \n'; }
    check "$version tds 7.0 login environment" "$(login_reply "$p" 7.0)" "0305$(utf16 iso_1)" "0504$(utf16 1033)00" "0606$(utf16 196609)00"
    absent "$version tds 7.4 login environment" "$(login_reply "$p" 7.4)" "0305$(utf16 iso_1)"
    check "$version isql list" "$(run_isql "$p" 7.4 'SELECT name FROM master.dbo.sysdatabases')" "msdb" "SQLRowCount returns 4"

    if [ "$version" = 2000 ]; then
        use911="Could not locate entry in sysdatabases for database 'nosuch'"
        syntax="Msg 170"
        syntax_text="Line 1: Incorrect syntax near 'FROBNICATE'."
        missing_attach=("Msg 5105" "Device activation error" "Msg 1813")
        detach_missing="Use sp_helpdb to show available databases."
        drop_missing="because it does not exist in the system catalog."
        percent="50 percent backed up." # 1 MB + 1 MB: one line per 1 MB transfer
        filelist_columns=6
        empty_name="Cannot use empty object or column names."
    else
        use911="Database 'nosuch' does not exist. Make sure that the name is entered correctly."
        syntax="Incorrect syntax near 'FROBNICATE'."
        syntax_text="$syntax"
        missing_attach=("Msg 5120" '2(The system cannot find the file specified.)' "Msg 1802")
        detach_missing="To see available databases, use sys.databases."
        drop_missing="because it does not exist or you do not have permission."
        percent="12 percent processed." # 8 MB + 8 MB: 12, 25, 31 … per 1 MB transfer
        filelist_columns=22
        empty_name="An object or column name is missing or empty."
    fi

    check "$version use" "$(run_tsql "$p" 7.4 'USE nosuch')" "Msg 911" "$use911"
    check "$version use ok" "$(run_tsql "$p" 7.4 'USE msdb
SELECT DB_NAME()')" "msdb"
    check "$version syntax" "$(run_tsql "$p" 7.4 'USE master FROBNICATE x')" "$syntax"
    # A batch that opens with a bare name calls it as a procedure.
    check "$version bare name" "$(run_tsql "$p" 7.4 'FROBNICATE x')" "Msg 2812" "Could not find stored procedure 'FROBNICATE'."
    check "$version exec unknown" "$(run_tsql "$p" 7.4 'EXEC nosuch')" "Msg 2812" "Could not find stored procedure 'nosuch'."
    check "$version create" "$(run_tsql "$p" 7.4 "CREATE DATABASE [Б д]
SELECT name FROM master.dbo.sysdatabases WHERE name = N'Б д'")" "(1 row affected)"
    check "$version create exists" "$(run_tsql "$p" 7.4 'CREATE DATABASE [Б д]')" "Msg 1801" "Database 'Б д' already exists."
    check "$version attach missing" "$(run_tsql "$p" 7.4 "CREATE DATABASE x ON PRIMARY (FILENAME = N'$files/none.mdf') LOG ON (FILENAME = N'$files/none.ldf') FOR ATTACH")" "${missing_attach[@]}"
    echo "junk" >"$files/junk.mdf"
    check "$version attach junk" "$(run_tsql "$p" 7.4 "CREATE DATABASE x ON PRIMARY (FILENAME = N'$files/junk.mdf') FOR ATTACH")" "Msg 5172" "is not a valid database file header"
    check "$version detach missing" "$(run_tsql "$p" 7.4 "EXEC sp_detach_db N'nosuch', 'true'")" "Msg 15010" "$detach_missing"
    check "$version detach system" "$(run_tsql "$p" 7.4 "EXEC sp_detach_db 'master', 'true'")" "Msg 7940"
    check "$version detach quote" "$(run_tsql "$p" 7.4 "EXEC sp_detach_db 'o'k', 'true'")" "Msg 105"
    check "$version drop missing" "$(run_tsql "$p" 7.4 'DROP DATABASE nosuch')" "Msg 3701" "$drop_missing"
    check "$version drop system" "$(run_tsql "$p" 7.4 'DROP DATABASE master')" "Msg 3708" "because it is a system database."

    check "$version backup" "$(run_tsql "$p" 7.4 "Backup Database [Б д] to disk = N'$files/b.bak' WITH INIT , NOUNLOAD , SKIP , STATS = 10, NOFORMAT")" \
        "$percent" "Msg 4035" "BACKUP DATABASE successfully processed"
    check "$version backup tempdb" "$(run_tsql "$p" 7.4 "BACKUP DATABASE tempdb TO DISK = N'$files/t.bak'")" "Msg 3147" \
        "Backup and restore operations are not allowed on database tempdb." "Msg 3013"
    # Appending to a file whose end is not a backup set; 2000 words it as a warning of its own (its
    # table's severity 10, sent as 0 like every informational message).
    echo "junk" >"$files/junk.bak"
    out=$(run_tsql "$p" 7.4 "BACKUP DATABASE [Б д] TO DISK = N'$files/junk.bak'")
    if [ "$version" = 2000 ]; then
        check "$version append to junk" "$out" "Msg 3266 (severity 0," "The backup data in '$files/junk.bak' is incorrectly formatted. Backups cannot be appended, but existing backup sets may still be usable." "Msg 3013"
    else
        check "$version append to junk" "$out" "Msg 3266 (severity 16" "The backup data at the end of \"$files/junk.bak\" is incorrectly formatted." "Msg 3013"
    fi
    # A disk file's DeviceType is 2; BackupSize is the pages written (as 3014 counts them) in 64 KB
    # units and the set's two blocks of its own.
    out=$(run_tsql "$p" 7.4 "RESTORE HEADERONLY FROM DISK = N'$files/b.bak'")
    pages=$(grep -o 'processed [0-9]* pages' <<<"$(run_tsql "$p" 7.4 "BACKUP DATABASE [Б д] TO DISK = N'$files/b.bak' WITH INIT")" | grep -o '[0-9]*')
    device_type=$(grep -m1 -A1 BackupName <<<"$out" | tail -1 | cut -f7)
    [ "$device_type" = 2 ] && pass || fail "$version headeronly device type $device_type"
    blocks=$(((pages * 8192 + 65535) / 65536))
    check "$version headeronly backup size" "$(grep -m1 -A1 BackupName <<<"$out" | tail -1 | cut -f13)" "$(((blocks + 2) * 65536))"
    check "$version backup isql" "$(run_isql "$p" 7.3 "BACKUP DATABASE [Б д] TO DISK = N'$files/c.bak' WITH STATS = 50")" "successfully processed"
    check "$version backup missing db" "$(run_tsql "$p" 7.4 "BACKUP DATABASE nosuch TO DISK = N'$files/n.bak'")" "Msg 911" "Msg 3013" "BACKUP DATABASE is terminating abnormally."
    check "$version backup bad path" "$(run_tsql "$p" 7.4 "BACKUP DATABASE [Б д] TO DISK = N'/no/such/x.bak'")" "Msg 3201" "Msg 3013"
    check "$version backup empty name" "$(run_tsql "$p" 7.4 "BACKUP DATABASE [] TO DISK = N'$files/e.bak'")" "Msg 1038" "$empty_name"
    check "$version empty name in a three-part name" "$(run_tsql "$p" 7.4 "SELECT indid, reserved FROM [].dbo.sysindexes")" "Msg 1038" "$empty_name"

    out=$(run_tsql "$p" 7.4 "RESTORE FILELISTONLY FROM DISK = N'$files/b.bak'")
    check "$version filelist" "$out" "(2 rows affected)" "PRIMARY"
    header=$(grep -m1 'LogicalName' <<<"$out" | tr '\t' '\n' | grep -c .)
    check "$version filelist columns" "$header" "$filelist_columns"
    check "$version filelist missing" "$(run_tsql "$p" 7.4 "RESTORE FILELISTONLY FROM DISK = N'$files/none.bak'")" "Msg 3201" "RESTORE FILELIST is terminating abnormally."
    check "$version filelist junk" "$(run_tsql "$p" 7.4 "RESTORE FILELISTONLY FROM DISK = N'$files/junk.mdf'")" "Msg 3241" "Msg 3013"

    check "$version restore" "$(run_tsql "$p" 7.4 "RESTORE DATABASE [R 1] FROM DISK = N'$files/b.bak' WITH REPLACE, MOVE N'Б д' TO N'$files/r.mdf', MOVE N'Б д_log' TO N'$files/r.ldf'")" \
        "RESTORE DATABASE successfully processed"
    [ -f "$files/r.mdf" ] && [ -f "$files/r.ldf" ] && pass || fail "$version restore files"
    check "$version restore logical" "$(run_tsql "$p" 7.4 "RESTORE DATABASE R2 FROM DISK = N'$files/b.bak' WITH REPLACE, MOVE N'nope' TO N'$files/q.mdf'")" "Msg 3234" "RESTORE DATABASE is terminating abnormally."
    out=$(run_tsql "$p" 7.4 "RESTORE DATABASE R2 FROM DISK = N'$files/b.bak' WITH REPLACE, MOVE N'Б д' TO N'/no/such/q.mdf', MOVE N'Б д_log' TO N'$files/q.ldf'")
    check "$version restore folder" "$out" "Msg 3156" "Msg 3013"
    # 2019 plays SQL Server on Linux, which checks the target first and says so (3634).
    [ "$version" = 2000 ] || check "$version restore planning" "$out" "Msg 3634" \
        "The operating system returned the error '2(The system cannot find the file specified.)' while attempting 'RestoreContainer::ValidateTargetForCreation' on '/no/such/q.mdf'." \
        "Msg 3156" "Msg 3119"

    # Verification: the whole set read and checked; checksums from 2005 on; damage found.
    if [ "$version" = 2000 ]; then valid="The backup set is valid."; else valid="The backup set on file 1 is valid."; fi
    check "$version verify" "$(run_tsql "$p" 7.4 "RESTORE VERIFYONLY FROM DISK = N'$files/b.bak' WITH FILE = 1")" "Msg 3262" "$valid"
    check "$version verify no set" "$(run_tsql "$p" 7.4 "RESTORE VERIFYONLY FROM DISK = N'$files/b.bak' WITH FILE = 2")" "Msg 4038" "VERIFY DATABASE is terminating abnormally."
    if [ "$version" = 2000 ]; then
        check "$version backup checksum" "$(run_tsql "$p" 7.4 "BACKUP DATABASE [Б д] TO DISK = N'$files/k.bak' WITH INIT, CHECKSUM")" "Msg 170"
        check "$version backup copy only" "$(run_tsql "$p" 7.4 "BACKUP DATABASE [Б д] TO DISK = N'$files/k.bak' WITH INIT, COPY_ONLY")" "Msg 170"
    else
        check "$version verify without checksums" "$(run_tsql "$p" 7.4 "RESTORE VERIFYONLY FROM DISK = N'$files/b.bak' WITH FILE = 1, CHECKSUM")" \
            "Msg 3187" "RESTORE WITH CHECKSUM cannot be specified because the backup set does not contain checksum information." "VERIFY DATABASE is terminating abnormally."
        out=$(run_tsql "$p" 7.4 "BACKUP DATABASE [Б д] TO DISK = N'$files/k.bak' WITH INIT, CHECKSUM, COPY_ONLY
RESTORE VERIFYONLY FROM DISK = N'$files/k.bak' WITH FILE = 1, CHECKSUM")
        check "$version verify checksums" "$out" "BACKUP DATABASE successfully processed" "$valid"
        out=$(run_tsql "$p" 7.4 "RESTORE HEADERONLY FROM DISK = N'$files/k.bak'")
        check "$version headeronly checksums" "$(column_value HasBackupChecksums "$out")" 1
        check "$version headeronly copy only" "$(column_value IsCopyOnly "$out")" 1
        check "$version headeronly version" "$(column_value SoftwareVersionMajor "$out").$(column_value SoftwareVersionBuild "$out")" 15.2000
    fi
    start "damaged$version" "$version" --damage-backups
    if [ "$version" = 2000 ]; then
        run_tsql "$port" 7.4 "CREATE DATABASE D
BACKUP DATABASE D TO DISK = N'$files/d.bak' WITH INIT" >/dev/null
        # No checksums: a changed byte among the data goes unseen, as on SQL Server 2000; damage to
        # the set's header does not.
        check "$version verify unseen damage" "$(run_tsql "$port" 7.4 "RESTORE VERIFYONLY FROM DISK = N'$files/d.bak'")" "Msg 3262"
        printf '\377' | dd of="$files/d.bak" bs=1 seek=40 conv=notrunc 2>/dev/null
        damage=("Msg 3241" "is incorrectly formed")
    else
        run_tsql "$port" 7.4 "CREATE DATABASE D
BACKUP DATABASE D TO DISK = N'$files/d.bak' WITH INIT, CHECKSUM" >/dev/null
        damage=("Msg 3189" "Damage to the backup set was detected.")
    fi
    check "$version verify damaged" "$(run_tsql "$port" 7.4 "RESTORE VERIFYONLY FROM DISK = N'$files/d.bak'")" "${damage[@]}" "VERIFY DATABASE is terminating abnormally."
    check "$version restore damaged" "$(run_tsql "$port" 7.4 "RESTORE DATABASE E FROM DISK = N'$files/d.bak' WITH MOVE N'D' TO N'$files/e.mdf', MOVE N'D_log' TO N'$files/e.ldf'")" \
        "${damage[@]}" "RESTORE DATABASE is terminating abnormally."

    # A database of several files and filegroups: its files, backups that append, every file restored.
    if [ "$version" = 2000 ]; then
        header_columns=33 planning=() mismatch="Cannot associate files with different databases."
    else
        header_columns=56 planning=("Msg 3119")
        mismatch="retry the operation with the correct files. If this is an existing database, the file may be corrupted"
    fi
    check "$version create files" "$(run_tsql "$p" 7.4 "CREATE DATABASE [M f] ON PRIMARY (NAME = m1, FILENAME = N'$files/m1.mdf', SIZE = 3MB, MAXSIZE = UNLIMITED, FILEGROWTH = 10%), (NAME = m2, FILENAME = N'$files/m2.ndf'), FILEGROUP fg (NAME = m3, FILENAME = N'$files/m3.ndf') LOG ON (NAME = ml1, FILENAME = N'$files/ml1.ldf', SIZE = 512KB), (NAME = ml2, FILENAME = N'$files/ml2.ldf')
SELECT fileid, groupid, name, filename FROM master.dbo.sysaltfiles WHERE dbid = DB_ID(N'M f') ORDER BY fileid")" \
        "(5 rows affected)" "$(printf '1\t1\tm1')" "$(printf '2\t0\tml1')" "$(printf '3\t1\tm2')" "$(printf '4\t2\tm3')" "$(printf '5\t0\tml2')" "$files/m3.ndf"
    absent "$version unknown db_id" "$(run_tsql "$p" 7.4 "SELECT fileid, groupid, name, filename FROM master.dbo.sysaltfiles WHERE dbid = DB_ID(N'nosuch') ORDER BY fileid")" "$files"
    master_files=$(run_tsql "$p" 7.4 "SELECT file_id, type, name, physical_name FROM sys.master_files WHERE database_id = DB_ID(N'M f') ORDER BY file_id")
    if [ "$version" = 2000 ]; then
        check "$version master_files" "$master_files" "Msg 208" "Invalid object name 'sys.master_files'."
    else
        check "$version master_files" "$master_files" "(5 rows affected)" "$(printf '4\t0\tm3\t%s' "$files/m3.ndf")" "$(printf '5\t1\tml2')"
    fi
    [ "$(stat -c %s "$files/m1.mdf")" = 3145728 ] && pass || fail "$version SIZE"
    check "$version backup first set" "$(run_tsql "$p" 7.4 "BACKUP DATABASE [M f] TO DISK = N'$files/m.bak' WITH INIT")" "file 'm3' on file 1." "file 'ml2' on file 1."
    check "$version backup appends" "$(run_tsql "$p" 7.4 "BACKUP DATABASE [M f] TO DISK = N'$files/m.bak' WITH NAME = N'Другий'")" "file 'm3' on file 2."
    out=$(run_tsql "$p" 7.4 "RESTORE HEADERONLY FROM DISK = N'$files/m.bak'")
    check "$version headeronly" "$out" "(2 rows affected)" "Другий" "M f"
    header=$(grep -m1 'BackupName' <<<"$out" | tr '\t' '\n' | grep -c .)
    check "$version headeronly columns" "$header" "$header_columns"
    out=$(run_tsql "$p" 7.4 "RESTORE FILELISTONLY FROM Disk = N'$files/m.bak' WITH FILE = 2")
    check "$version filelist files" "$out" "(5 rows affected)" "$(printf 'm3\t%s\tD\tfg' "$files/m3.ndf")" "$(printf 'ml2\t%s\tL\tNULL' "$files/ml2.ldf")"
    check "$version filelist no set" "$(run_tsql "$p" 7.4 "RESTORE FILELISTONLY FROM Disk = N'$files/m.bak' WITH FILE = 3")" "Msg 4038" "Cannot find file ID 3 on device '$files/m.bak'." "RESTORE FILELIST is terminating abnormally."
    check "$version restore no set" "$(run_tsql "$p" 7.4 "RESTORE DATABASE [M g] FROM Disk = N'$files/m.bak' WITH FILE = 3, REPLACE")" "Msg 4038" "RESTORE DATABASE is terminating abnormally."
    check "$version restore recorded paths" "$(run_tsql "$p" 7.4 "RESTORE DATABASE [M g] FROM DISK = N'$files/m.bak' WITH FILE = 2, REPLACE, MOVE N'm1' TO N'$files/g1.mdf', MOVE N'ml1' TO N'$files/g1.ldf'")" \
        "Msg 1834" "The file '$files/m2.ndf' cannot be overwritten.  It is being used by database 'M f'." "Msg 3156" "${planning[@]}" "Msg 3013"
    check "$version restore one path twice" "$(run_tsql "$p" 7.4 "RESTORE DATABASE [M g] FROM DISK = N'$files/m.bak' WITH REPLACE, MOVE N'm1' TO N'$files/g1.mdf', MOVE N'm2' TO N'$files/g1.mdf', MOVE N'm3' TO N'$files/g3.ndf', MOVE N'ml1' TO N'$files/g1.ldf', MOVE N'ml2' TO N'$files/g2.ldf'")" \
        "Msg 3176" "File '$files/g1.mdf' is claimed by 'm2'(3) and 'm1'(1)." "Msg 3013"
    check "$version restore every file" "$(run_tsql "$p" 7.4 "RESTORE DATABASE [M g] FROM DISK = N'$files/m.bak' WITH FILE = 2, REPLACE, MOVE N'm1' TO N'$files/g1.mdf', MOVE N'm2' TO N'$files/g2.ndf', MOVE N'm3' TO N'$files/g3.ndf', MOVE N'ml1' TO N'$files/g1.ldf', MOVE N'ml2' TO N'$files/g2.ldf'")" \
        "file 'm3' on file 2." "RESTORE DATABASE successfully processed"
    cmp -s "$files/m3.ndf" "$files/g3.ndf" && pass || fail "$version restored bytes"
    check "$version restore other database" "$(run_tsql "$p" 7.4 "RESTORE DATABASE [Б д] FROM DISK = N'$files/m.bak' WITH MOVE N'm1' TO N'$files/h1.mdf'")" \
        "Msg 3154" "The backup set holds a backup of a database other than the existing 'Б д' database." "Msg 3013"
    : >"$files/bystander.ndf"
    check "$version restore over a file" "$(run_tsql "$p" 7.4 "RESTORE DATABASE [M h] FROM DISK = N'$files/m.bak' WITH MOVE N'm1' TO N'$files/h1.mdf', MOVE N'm2' TO N'$files/bystander.ndf', MOVE N'm3' TO N'$files/h3.ndf', MOVE N'ml1' TO N'$files/h1.ldf', MOVE N'ml2' TO N'$files/h2.ldf'")" \
        "Msg 3142" "cannot be restored over the existing" "Msg 3013"
    [ ! -s "$files/bystander.ndf" ] && [ ! -e "$files/h1.mdf" ] && pass || fail "$version bystander kept"
    check "$version restore own database" "$(run_tsql "$p" 7.4 "RESTORE DATABASE [M g] FROM DISK = N'$files/m.bak' WITH FILE = 1, MOVE N'm1' TO N'$files/g1.mdf', MOVE N'm2' TO N'$files/g2.ndf', MOVE N'm3' TO N'$files/g3.ndf', MOVE N'ml1' TO N'$files/g1.ldf', MOVE N'ml2' TO N'$files/g2.ldf'")" \
        "file 'm3' on file 1." "RESTORE DATABASE successfully processed"
    check "$version detach files" "$(run_tsql "$p" 7.4 "EXEC sp_detach_db N'M f', 'true'")" "(return status = 0)"
    check "$version attach one file missing" "$(run_tsql "$p" 7.4 "CREATE DATABASE [M f] ON (FILENAME = N'$files/m1.mdf'), (FILENAME = N'$files/none.ndf'), (FILENAME = N'$files/ml1.ldf') FOR ATTACH")" "${missing_attach[@]}"
    run_tsql "$p" 7.4 "CREATE DATABASE [F x] ON (NAME = fx, FILENAME = N'$files/fx.mdf') LOG ON (NAME = fxl, FILENAME = N'$files/fx.ldf')
EXEC sp_detach_db N'F x'" >/dev/null
    check "$version attach foreign file" "$(run_tsql "$p" 7.4 "CREATE DATABASE [M f] ON (FILENAME = N'$files/m1.mdf'), (FILENAME = N'$files/m2.ndf'), (FILENAME = N'$files/fx.ldf') FOR ATTACH")" "Msg 5173" "$mismatch"
    check "$version attach files" "$(run_tsql "$p" 7.4 "CREATE DATABASE [M f] ON (FILENAME = N'$files/m1.mdf'), (FILENAME = N'$files/m2.ndf'), (FILENAME = N'$files/m3.ndf'), (FILENAME = N'$files/ml1.ldf'), (FILENAME = N'$files/ml2.ldf') FOR ATTACH
SELECT fileid, groupid, name, filename FROM master.dbo.sysaltfiles WHERE dbid = DB_ID(N'M f') ORDER BY fileid")" "(5 rows affected)" "$(printf '4\t2\tm3')"
    check "$version drop files" "$(run_tsql "$p" 7.4 "DROP DATABASE [M f], [M g]")" ""
    [ ! -e "$files/m3.ndf" ] && [ ! -e "$files/g2.ldf" ] && pass || fail "$version dropped every file"

    # A new database takes the lowest free id.
    run_tsql "$p" 7.4 "CREATE DATABASE i1
CREATE DATABASE i2
CREATE DATABASE i3" >/dev/null
    id2=$(run_tsql "$p" 7.4 "SELECT dbid FROM master.dbo.sysdatabases WHERE name = N'i2'" | grep -m1 -E '^[0-9]+$')
    run_tsql "$p" 7.4 "DROP DATABASE i2
CREATE DATABASE i4" >/dev/null
    check "$version lowest free id" "$(run_tsql "$p" 7.4 "SELECT dbid FROM master.dbo.sysdatabases WHERE name = N'i4'")" "$id2"
    run_tsql "$p" 7.4 "DROP DATABASE i1, i3, i4" >/dev/null

    schemata=$(run_tsql "$p" 7.4 "SELECT CATALOG_NAME FROM INFORMATION_SCHEMA.SCHEMATA Where CATALOG_NAME like 'Б д'")
    if [ "$version" = 2000 ]; then
        check "$version schemata" "$schemata" "(1 row affected)"
    else
        absent "$version schemata" "$schemata" "row"
        check "$version schemata master" "$(run_tsql "$p" 7.4 "SELECT CATALOG_NAME FROM INFORMATION_SCHEMA.SCHEMATA Where CATALOG_NAME like 'master'")" "(13 rows affected)"
    fi
    check "$version detach" "$(run_tsql "$p" 7.4 "EXEC sp_detach_db @dbname = N'R 1', @skipchecks = 'true'
SELECT name FROM master.dbo.sysdatabases WHERE name = N'R 1'")" "(return status = 0)"
    absent "$version detached" "$(run_tsql "$p" 7.4 'SELECT name FROM master.dbo.sysdatabases')" "R 1"
    [ -f "$files/r.mdf" ] && pass || fail "$version detached files kept"
    out=$(run_tsql "$p" 7.4 "DROP DATABASE [Б д]")
    # 2000 names each file it deletes, the log first.
    [ "$version" = 2000 ] && check "$version drop order" "$(grep -o "Deleting database file '[^']*'" <<<"$out" | head -1)" "Deleting database file '$files/data/Б д_log.ldf'"
    [ ! -e "$files/data/Б д.mdf" ] && pass || fail "$version dropped files removed"
    check "$version login" "$(printf 'quit\n' | tsql -H 127.0.0.1 -p "$p" -U sa -P wrong 2>&1)" "Login failed for user 'sa'."

    # The same statements as prepared statements (sp_prepexec, sp_unprepare), on every TDS version.
    for tds in 7.1 7.2 7.3 7.4; do
        db="P $tds д"
        out=$(run_isql_prepared "$p" "$tds" "Use Master" \
            "CREATE DATABASE [$db]" \
            "SELECT name FROM master.dbo.sysdatabases WHERE name = N'$db'" \
            "SELECT CATALOG_NAME FROM INFORMATION_SCHEMA.SCHEMATA Where CATALOG_NAME like 'master'" \
            "Backup Database [$db] to disk = N'$files/p$tds.bak' WITH INIT , NOUNLOAD , SKIP , STATS = 10, NOFORMAT" \
            "RESTORE FILELISTONLY FROM Disk = N'$files/p$tds.bak'" \
            "RESTORE DATABASE [$db R] FROM DISK = N'$files/p$tds.bak' WITH REPLACE, MOVE N'$db' TO N'$files/p$tds.mdf', MOVE N'${db}_log' TO N'$files/p$tds.ldf'" \
            "EXEC sp_detach_db N'$db R', 'true'" \
            "CREATE DATABASE [$db R] ON PRIMARY (FILENAME = N'$files/p$tds.mdf') LOG ON (FILENAME = N'$files/p$tds.ldf') FOR ATTACH" \
            "DROP DATABASE [$db R]" \
            "DROP DATABASE [$db]" \
            "USE nosuch" \
            "CREATE DATABASE x ON PRIMARY (FILENAME = N'$files/none.mdf') FOR ATTACH" \
            "EXEC sp_detach_db N'nosuch', 'true'" \
            "FROBNICATE x" \
            "USE master FROBNICATE x")
        check "$version prepared $tds" "$out" "Changed database context to 'master'." "SQLRowCount returns 1" \
            "$percent" "BACKUP DATABASE successfully processed" "${db}_log" "RESTORE DATABASE successfully processed" \
            "$use911" "${missing_attach[1]}" "$detach_missing" "Could not find stored procedure 'FROBNICATE'." \
            "$syntax_text"
        absent "$version prepared $tds rpc" "$out" "the requested RPC"
        [ "$version" = 2000 ] || check "$version prepared $tds schemata" "$out" "SQLRowCount returns 13"
        absent "$version prepared $tds dropped" "$(run_isql "$p" "$tds" 'SELECT name FROM master.dbo.sysdatabases')" "P $tds"
    done
done

# RESTORE HEADERONLY's and FILELISTONLY's columns on the versions between.
# 2014 plays RTM (12.0.2000), before CU1 brought the encryption columns; 2022 added three more.
for pair in 2005:51:20 2008:52:21 2012:53:21 2014:53:21 2016:56:22 2022:59:22 2025:59:22; do
    IFS=: read -r version header_columns filelist_columns <<<"$pair"
    start "v$version" "$version"
    check "$version version" "$(run_tsql "$port" 7.4 "SELECT @@VERSION")" "Microsoft SQL Server $version"
    case $version in 2022) check "2022 build" "$(run_tsql "$port" 7.4 "SELECT @@VERSION")" "16.0.1000.6" "on Linux" ;;
    2025) check "2025 build" "$(run_tsql "$port" 7.4 "SELECT @@VERSION")" "17.0.1000.7" "on Linux" ;; esac
    out=$(run_tsql "$port" 7.4 "CREATE DATABASE h
BACKUP DATABASE h TO DISK = N'h.bak'
RESTORE HEADERONLY FROM DISK = N'h.bak'")
    check "$version headeronly columns" "$(grep -m1 'BackupName' <<<"$out" | tr '\t' '\n' | grep -c .)" "$header_columns"
    out=$(run_tsql "$port" 7.4 "RESTORE DATABASE h2 FROM DISK = N'h.bak' WITH MOVE N'h' TO N'/no/such/h2.mdf', MOVE N'h_log' TO N'h2.ldf'")
    if [ "$version" -ge 2017 ]; then
        check "$version restore folder" "$out" "Msg 3634" "RestoreContainer::ValidateTargetForCreation" "Msg 3156" "Msg 3119" "Msg 3013"
    else
        check "$version restore folder" "$out" "Msg 5133" "Msg 3156" "Msg 3119" "Msg 3013"
    fi
    out=$(run_tsql "$port" 7.4 "RESTORE FILELISTONLY FROM DISK = N'h.bak'")
    check "$version filelist columns" "$(grep -m1 'LogicalName' <<<"$out" | tr '\t' '\n' | grep -c .)" "$filelist_columns"
done

# A backup from an older server restored on a newer one is converted: 944, then a 951 for each
# step, after the files' lines and before the end.
start older 2016
run_tsql "$port" 7.4 "CREATE DATABASE u
BACKUP DATABASE u TO DISK = N'$work/u2016.bak'" >/dev/null
start newer 2019
out=$(run_tsql "$port" 7.4 "RESTORE DATABASE u FROM DISK = N'$work/u2016.bak' WITH MOVE N'u' TO N'$work/u.mdf', MOVE N'u_log' TO N'$work/u.ldf'")
check "upgrade on restore" "$out" "Msg 944" "Converting database 'u' from version 852 to the current version 904." \
    "Database 'u' running the upgrade step from version 903 to version 904." "RESTORE DATABASE successfully processed"
check "upgrade order" "$(grep -o 'Msg 4035\|Msg 944\|Msg 951\|Msg 3014' <<<"$out" | uniq | tr '\n' ' ')" "Msg 4035 Msg 944 Msg 951 Msg 3014"
# A backup from a newer server: its file list and its restore refused with 3169 from 2012 on; 2000 cannot
# read the media at all (3205; more in conformance_versions.sh).
start old2016 2016
check "2016 filelist newer" "$(run_tsql "$port" 7.4 "RESTORE FILELISTONLY FROM DISK = N'$work/v2019/b.bak'")" "Msg 3169" \
    "The database was backed up on a server running version 15.00.2000. That version is incompatible with this server, which is running version 13.00.1601." "RESTORE FILELIST is terminating abnormally."
check "2016 restore newer" "$(run_tsql "$port" 7.4 "RESTORE DATABASE N FROM DISK = N'$work/v2019/b.bak'")" "Msg 3169" "RESTORE DATABASE is terminating abnormally."
check "2016 headeronly newer" "$(column_value SoftwareVersionMajor "$(run_tsql "$port" 7.4 "RESTORE HEADERONLY FROM DISK = N'$work/v2019/b.bak'")")" 15
start old2000 2000
check "2000 filelist newer" "$(run_tsql "$port" 7.4 "RESTORE FILELISTONLY FROM DISK = N'$work/v2019/b.bak'")" "Msg 3205" \
    "Too many backup devices specified for backup or restore; only 64 are allowed." "RESTORE FILELIST is terminating abnormally."

# A server installed with a case-sensitive collation: database names compare as it says.
start collation 2019 --collation Latin1_General_CS_AS
check "collation reported" "$(run_tsql "$port" 7.4 "SELECT SERVERPROPERTY('Collation')")" "Latin1_General_CS_AS"
check "collation use" "$(run_tsql "$port" 7.4 'USE Master')" "Msg 911" "Database 'Master' does not exist."
check "collation names" "$(run_tsql "$port" 7.4 "CREATE DATABASE Cs
CREATE DATABASE cs
SELECT name FROM master.dbo.sysdatabases WHERE name = N'cs'
DROP DATABASE CS")" "(1 row affected)" "Msg 3701"
# A backup says the collation of the server it was made on, wherever it is read.
run_tsql "$port" 7.4 "CREATE DATABASE Coll
BACKUP DATABASE Coll TO DISK = N'$work/coll.bak'" >/dev/null
check "collation in the backup" "$(column_value Collation "$(run_tsql "$port" 7.4 "RESTORE HEADERONLY FROM DISK = N'$work/coll.bak'")")" \
    "Latin1_General_CS_AS"
# Case-sensitive whatever follows the CS: accents, kana, width, UTF-8.
start collation_ai 2019 --collation Latin1_General_100_CS_AI_KS_WS
check "collation CS_AI use" "$(run_tsql "$port" 7.4 'USE Master')" "Msg 911" "Database 'Master' does not exist."
start collation_ci 2019
check "default collation" "$(run_tsql "$port" 7.4 "SELECT SERVERPROPERTY('Collation')")" "SQL_Latin1_General_CP1_CI_AS"

# Named instances through the SQL Server Browser on UDP 1434.
start browser 2000 --browser-port 1434 --instance INST1=2008
check "browser lookup" "$(printf 'SELECT @@VERSION\n' | isql -k 'Driver=FreeTDS;Server=127.0.0.1\INST1;TDS_Version=7.3;UID=sa;PWD=pvtmo' -b -e 2>&1)" "Microsoft SQL Server 2008"

finish
