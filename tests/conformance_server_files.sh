#!/usr/bin/env bash
# zelvaro-devserver as somebody else, through FreeTDS's tsql: what it answers about itself and its
# files on the versions that have each function; as its own account (--run-as nobody) beside a
# folder closed to it; in a file system of its own (--root); playing Windows (--drive) and a Linux
# server meeting that Windows backup; a disk without room. The parts that need root (another
# account, a small tmpfs) say so and are skipped without it.
. "${BASH_SOURCE%/*}/conformance_lib.sh"

q() { run_tsql "$1" 7.4 "$2"; }
# The file functions' answer for one path, as "exists<TAB>directory<TAB>parent".
exists_row() { q "$1" "EXEC master.dbo.xp_fileexist N'$2'" | grep -E '^[01]	[01]	[01]$'; }

# --- What each version knows about itself and its files ---
mkdir -p "$work/tree/sub/inner"
: >"$work/tree/a.bak"
: >"$work/tree/sub/b.mdf"
for version in 2000 2012 2016 2019 2022; do
    start "v$version" "$version"
    p=$port
    d="$work/v$version/data"
    out=$(q "$p" "SELECT SERVERPROPERTY('ProductVersion') AS v, SERVERPROPERTY('ProductLevel'), SERVERPROPERTY('EngineEdition'), SERVERPROPERTY('InstanceName'), CAST(SERVERPROPERTY('MachineName') AS nvarchar(128)) AS m, SERVERPROPERTY('ServerName') AS s")
    check "$version properties" "$out" "(1 row affected)" "$(printf '\tNULL\t')"
    absent "$version properties" "$out" "Msg "
    check "$version convert" "$(q "$p" "SELECT CONVERT(nvarchar(128), SERVERPROPERTY('ProductVersion')) v, @@VERSION")" "$(q "$p" "SELECT SERVERPROPERTY('ProductVersion')" | grep -E '^[0-9]+\.[0-9]')"
    out=$(q "$p" "SELECT SERVERPROPERTY('InstanceDefaultDataPath'), SERVERPROPERTY('InstanceDefaultLogPath'), SERVERPROPERTY('InstanceDefaultBackupPath')")
    # The default folders came with the updates of late 2015: the 2012 RTM build has none.
    case $version in
    2000 | 2008 | 2012) check "$version no default paths" "$out" "$(printf 'NULL\tNULL\tNULL')" ;;
    2016) check "$version default paths" "$out" "$(printf '%s/\t%s/\tNULL' "$d" "$d")" ;;
    *) check "$version default paths" "$out" "$(printf '%s/\t%s/\t%s/' "$d" "$d" "$d")" ;;
    esac

    check "$version xp_fileexist file" "$(exists_row "$p" "$work/tree/a.bak")" "$(printf '1\t0\t1')"
    check "$version xp_fileexist folder" "$(exists_row "$p" "$work/tree/sub")" "$(printf '0\t1\t1')"
    check "$version xp_fileexist nothing" "$(exists_row "$p" "$work/none/x.bak")" "$(printf '0\t0\t0')"
    out=$(q "$p" "EXEC master.dbo.xp_dirtree N'$work/tree', 1, 1")
    check "$version xp_dirtree" "$out" "$(printf 'a.bak\t1\t1')" "$(printf 'sub\t1\t0')" "(2 rows affected)" "(return status = 0)"
    absent "$version xp_dirtree depth 1" "$out" "inner" "b.mdf"
    check "$version xp_dirtree folders only" "$(q "$p" "EXEC master.dbo.xp_dirtree N'$work/tree'")" "$(printf 'sub\t1')" "$(printf 'inner\t2')"

    newer=("SELECT * FROM sys.dm_os_file_exists(N'$work/tree/a.bak')"
        "SELECT file_or_directory_name, is_directory FROM sys.dm_os_enumerate_filesystem(N'$work/tree', N'*') WHERE level = 0"
        "SELECT host_platform FROM sys.dm_os_host_info")
    if [ "$version" -lt 2017 ]; then
        check "$version no dm_os_file_exists" "$(q "$p" "${newer[0]}")" "Msg 208" "Invalid object name 'sys.dm_os_file_exists'."
        check "$version no enumerate_filesystem" "$(q "$p" "${newer[1]}")" "Msg 208"
        check "$version no host_info" "$(q "$p" "${newer[2]}")" "Msg 208"
    else
        check "$version dm_os_file_exists" "$(q "$p" "${newer[0]}")" "$(printf '1\t0\t1')"
        out=$(q "$p" "${newer[1]}")
        check "$version enumerate level 0" "$out" "$(printf 'a.bak\t0')" "$(printf 'sub\t1')" "(2 rows affected)"
        absent "$version enumerate level 0" "$out" "inner"
        check "$version enumerate subtree" "$(q "$p" "SELECT full_filesystem_path, level FROM sys.dm_os_enumerate_filesystem(N'$work/tree', N'*.mdf')")" "$(printf '%s\t1' "$work/tree/sub/b.mdf")"
        check "$version host_info" "$(q "$p" "${newer[2]}")" "Linux"
        release=$(q "$p" "SELECT @@VERSION" | grep -o 'Ubuntu [0-9]*\.[0-9]*' | cut -d' ' -f2)
        check "$version host_info agrees with @@VERSION" "$(q "$p" "SELECT host_release, os_language_version FROM sys.dm_os_host_info")" "$(printf '%s\t1033' "$release")"
        [ "$version" = 2022 ] && check "2022 host_architecture" "$(q "$p" "SELECT host_architecture FROM sys.dm_os_host_info")" "X64"
    fi
done

# --- The system databases' files: the fallback for the default folders, and master's volume ---
for version in 2000 2005 2014 2017 2019; do
    start "sys$version" "$version"
    p=$port
    d="$work/sys$version/data"
    check "$version master's file, two conditions" "$(q "$p" "SELECT filename FROM master.dbo.sysaltfiles WHERE dbid = 1 AND fileid = 1")" "$d/master.mdf" "(1 row affected)"
    [ "$version" = 2000 ] && continue
    out=$(q "$p" "SELECT physical_name FROM sys.master_files WHERE database_id = 1 AND file_id = 1
SELECT file_id, name, physical_name FROM sys.master_files WHERE database_id = 2 ORDER BY file_id")
    check "$version master_files" "$out" "$d/master.mdf" "$(printf '1\ttempdev\t%s/tempdb.mdf' "$d")" "$(printf '2\ttemplog\t%s/templog.ldf' "$d")"
    absent "$version master_files" "$out" "Msg "
    [ "$version" = 2005 ] && continue
    check "$version master's volume" "$(q "$p" "SELECT volume_mount_point FROM sys.dm_os_volume_stats(1, 1)")" "(1 row affected)"
    out=$(q "$p" "SELECT SERVERPROPERTY('InstanceDefaultDataPath'), SERVERPROPERTY('PathSeparator')")
    case $version in
    2014) check "2014 RTM: no default folder, no separator" "$out" "$(printf 'NULL\tNULL')" ;;
    *) check "$version separator" "$out" "$(printf '%s/\t/' "$d")" ;;
    esac
    # The 2017 RTM build had no sys.dm_os_enumerate_filesystem: a later cumulative update added it.
    [ "$version" = 2017 ] && check "2017 RTM: no enumerate_filesystem" "$(q "$p" "SELECT file_or_directory_name FROM sys.dm_os_enumerate_filesystem(N'$d', N'*') WHERE level = 0")" "Msg 208"
done

# --- As its own account, beside a folder closed to it ---
if [ "$(id -u)" != 0 ] || ! getent passwd nobody >/dev/null; then
    echo "SKIP: --run-as needs root and the account nobody"
else
    chmod 755 "$work"
    mkdir -p "$work/runas" && chmod 755 "$work/runas"
    start runas 2019 --run-as nobody
    p=$port
    pid=${pids[-1]}
    holds "run-as: the process is nobody" grep -qE "^Uid:\s+$(id -u nobody)\s+$(id -u nobody)\s+$(id -u nobody)" "/proc/$pid/status"
    holds "run-as: no supplementary root group" bash -c "! grep -qE '^Groups:.*\b0\b' /proc/$pid/status"
    closed="$work/home" # as Debian 12 makes a home: 0700, the user's own
    mkdir -p "$closed/backup"
    chmod 700 "$closed"
    run_tsql "$p" 7.4 "CREATE DATABASE Own" >/dev/null
    holds "run-as: its own data folder" test -f "$work/runas/data/Own.mdf"
    holds "run-as: files are the account's" test "$(stat -c %U "$work/runas/data/Own.mdf")" = nobody
    check "run-as: catalog kept" "$(q "$p" "SELECT name FROM master.dbo.sysdatabases WHERE name = N'Own'")" "(1 row affected)"
    out=$(q "$p" "BACKUP DATABASE Own TO DISK = N'$closed/backup/Own.bak'")
    check "run-as: backup beyond a closed folder" "$out" "Msg 3201" "Operating system error 5(Access is denied.)." "Msg 3013"
    absent "run-as: backup beyond a closed folder" "$out" "error 3("
    check "run-as: backup into the closed folder" "$(q "$p" "BACKUP DATABASE Own TO DISK = N'$closed/Own.bak'")" "Operating system error 5(Access is denied.)."
    holds "run-as: nothing written" test ! -e "$closed/Own.bak" -a ! -e "$closed/backup/Own.bak"
    "$server" --demo-files "$closed/demo" >/dev/null
    out=$(q "$p" "CREATE DATABASE VTR ON (FILENAME = N'$closed/demo/VTR.mdf'), (FILENAME = N'$closed/demo/VTR_log.ldf') FOR ATTACH")
    check "run-as: attach from a closed folder" "$out" "Msg 5120" "Operating system error 5: \"5(Access is denied.)\"."
    out=$(q "$p" "RESTORE FILELISTONLY FROM DISK = N'$closed/demo/VTR.bak'")
    check "run-as: restore from a closed folder" "$out" "Msg 3201" "5(Access is denied.)"
    check "run-as: the server cannot see the user's file" "$(exists_row "$p" "$closed/demo/VTR.bak")" "$(printf '0\t0\t0')"
    absent "run-as: nor list the folder" "$(q "$p" "EXEC master.dbo.xp_dirtree N'$closed/demo', 1, 1")" "VTR"
    # Not starting where the account cannot reach its data folder.
    out=$(timeout 10 "$server" --port 0 --browser-port 0 --data-dir "$closed/data" --run-as nobody 2>&1)
    check "run-as: a data folder it cannot reach" "$out" "cannot run as nobody" "$closed"
    # The user opens one folder to the account, as setfacl would: now it reaches the file.
    chmod 711 "$closed" && chmod 755 "$closed/demo"
    check "run-as: a folder opened" "$(exists_row "$p" "$work/home/demo/VTR.bak")" "$(printf '1\t0\t1')"
    out=$(q "$p" "RESTORE DATABASE VTR FROM DISK = N'$closed/demo/VTR.bak' WITH MOVE N'VTR' TO N'$work/runas/data/V.mdf', MOVE N'VTR_log' TO N'$work/runas/data/V.ldf'")
    check "run-as: restore once reachable" "$out" "RESTORE DATABASE successfully processed"
fi

# --- A file system of its own ---
start rooted 2019 --root "$work/rootfs" --data-dir "$work/rootfs/var/opt/mssql/data"
p=$port
out=$(q "$p" "CREATE DATABASE R
SELECT physical_name FROM sys.master_files WHERE database_id = DB_ID(N'R')
SELECT SERVERPROPERTY('InstanceDefaultDataPath')")
check "root: its own paths" "$out" "/var/opt/mssql/data/R.mdf" "/var/opt/mssql/data/R_log.ldf"
absent "root: its own paths" "$out" "$work"
holds "root: files inside the root" test -f "$work/rootfs/var/opt/mssql/data/R.mdf"
mkdir -p "$work/rootfs/var/opt/mssql/backup"
out=$(q "$p" "BACKUP DATABASE R TO DISK = N'/var/opt/mssql/backup/R.bak'
RESTORE FILELISTONLY FROM DISK = N'/var/opt/mssql/backup/R.bak'")
check "root: backup records its paths" "$out" "/var/opt/mssql/data/R.mdf"
holds "root: backup inside the root" test -f "$work/rootfs/var/opt/mssql/backup/R.bak"
# SQL Server on Linux says 2 for a missing folder too (the image's /var/opt/mssql/backup).
check "root: a host path means nothing" "$(q "$p" "BACKUP DATABASE R TO DISK = N'$work/R.bak'")" "Msg 3201" "Operating system error 2(The system cannot find the file specified.)."
check "root: the image's missing backup folder" "$(q "$p" "BACKUP DATABASE R TO DISK = N'/var/opt/mssql/nobackup/R.bak'")" "Operating system error 2(The system cannot find the file specified.)."
check "root: attach from a host path" "$(q "$p" "CREATE DATABASE H ON (FILENAME = N'$work/tree/sub/b.mdf') FOR ATTACH")" "Msg 5120" "Operating system error 2: \"2(The system cannot find the file specified.)\"."
check "root: nor a host file" "$(exists_row "$p" "$work/tree/a.bak")" "$(printf '0\t0\t0')"
check "root: .. stays inside" "$(exists_row "$p" "/../../var/opt/mssql/backup/R.bak")" "$(printf '1\t0\t1')"
check "root: listings" "$(q "$p" "EXEC master.dbo.xp_dirtree N'/var/opt/mssql', 1, 1")" "$(printf 'backup\t1\t0')" "$(printf 'data\t1\t0')"
# SQL Server on Linux reads a C:\ prefix as its root: a folder that exists there takes files, and one
# that does not fails as any missing folder does, with error 2.
mkdir -p "$work/rootfs/SQLData"
check "root: C:\\ is its root" "$(q "$p" "CREATE DATABASE CD ON (NAME = cd, FILENAME = N'C:\\SQLData\\cd.mdf') LOG ON (NAME = cd_log, FILENAME = N'C:\\SQLData\\cd.ldf')
EXEC master.dbo.xp_fileexist N'C:\\SQLData\\cd.mdf'")" "$(printf '1\t0\t1')"
holds "root: C:\\ files inside the root" test -f "$work/rootfs/SQLData/cd.mdf"
check "root: C:\\ folder missing" "$(q "$p" "CREATE DATABASE CE ON (NAME = ce, FILENAME = N'C:\\Program Files\\ce.mdf')")" "Msg 5133" "error 2(The system cannot find the file specified.)"

# --- Playing Windows, and a Linux server meeting its backup ---
start windows 2019 --drive "C=$work/cdrive" --data-dir "$work/cdrive/SQLData"
p=$port
mkdir -p "$work/cdrive/Backup"
out=$(q "$p" "CREATE DATABASE W
BACKUP DATABASE W TO DISK = N'C:\\Backup\\W.bak'
RESTORE FILELISTONLY FROM DISK = N'C:\\Backup\\W.bak'
SELECT host_platform FROM sys.dm_os_host_info
SELECT SERVERPROPERTY('InstanceDefaultDataPath')
SELECT @@VERSION")
check "drive: Windows paths" "$out" 'C:\SQLData\W.mdf' 'C:\SQLData\W_log.ldf' "Windows" 'C:\SQLData\' "on Windows"
absent "drive: Windows paths" "$out" "severity 16" "$work" "on Linux"
check "drive: its separator" "$(q "$p" "SELECT 'sep', SERVERPROPERTY('PathSeparator')")" "$(printf 'sep\t\\')"
holds "drive: the files on the host" test -f "$work/cdrive/SQLData/W.mdf" -a -f "$work/cdrive/Backup/W.bak"
check "drive: another letter" "$(q "$p" "BACKUP DATABASE W TO DISK = N'D:\\W.bak'")" "Operating system error 3(The system cannot find the path specified.)."
check "drive: a relative name" "$(q "$p" "BACKUP DATABASE W TO DISK = N'rel.bak'
EXEC master.dbo.xp_fileexist N'C:\\SQLData\\rel.bak'")" "$(printf '1\t0\t1')"

start linux 2019
p=$port
out=$(q "$p" "RESTORE DATABASE W FROM DISK = N'$work/cdrive/Backup/W.bak'")
check "linux: Windows paths of a backup" "$out" \
    'Msg 5133 (severity 16, state 1)' 'Directory lookup for the file "C:\SQLData\W.mdf" failed with the operating system error 2(The system cannot find the file specified.).' \
    'Msg 3156 (severity 16, state 3)' "File 'W' cannot be restored to 'C:\\SQLData\\W.mdf'. Use WITH MOVE to identify a valid location for the file." \
    "Msg 3119" "Msg 3013" "RESTORE DATABASE is terminating abnormally."
absent "linux: nothing created" "$out" "successfully processed"
holds "linux: no file called C:\\…" bash -c "! ls '$work/linux/data' | grep -q 'C:'"
out=$(q "$p" "RESTORE DATABASE W FROM DISK = N'$work/cdrive/Backup/W.bak' WITH MOVE N'W' TO N'$work/linux/data/W.mdf', MOVE N'W_log' TO N'$work/linux/data/W_log.ldf'")
check "linux: moved, restored" "$out" "RESTORE DATABASE successfully processed"
check "linux: attach by a Windows path" "$(q "$p" "CREATE DATABASE X ON (FILENAME = N'C:\\SQLData\\W.mdf') FOR ATTACH")" "Msg 5120" "Operating system error 2: \"2(The system cannot find the file specified.)\"."

# --- A disk without room ---
if [ "$(id -u)" != 0 ] || ! { mkdir -p "$work/small" && mount -t tmpfs -o size=2m tmpfs "$work/small" 2>/dev/null; }; then
    echo "SKIP: a small disk needs root and tmpfs"
else
    trap 'umount "$work/small" 2>/dev/null; for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
    start full 2019
    p=$port
    q "$p" "CREATE DATABASE Big ON (NAME = big, FILENAME = N'$work/full/data/big.mdf', SIZE = 3MB) LOG ON (NAME = big_log, FILENAME = N'$work/full/data/big.ldf', SIZE = 1MB)" >/dev/null
    out=$(q "$p" "BACKUP DATABASE Big TO DISK = N'$work/small/Big.bak'")
    check "full disk: backup" "$out" "Msg 3202" "112(There is not enough space on the disk.)" "Msg 3013"
    absent "full disk: not access" "$out" "Access is denied"
    rm -f "$work/small/Big.bak"
    q "$p" "BACKUP DATABASE Big TO DISK = N'$work/full/Big.bak'" >/dev/null
    out=$(q "$p" "RESTORE DATABASE Copy FROM DISK = N'$work/full/Big.bak' WITH MOVE N'big' TO N'$work/small/c.mdf', MOVE N'big_log' TO N'$work/small/c.ldf'")
    check "full disk: restore checks room first" "$out" "Msg 3257" "There is insufficient free space on disk volume '$work/small/' to create the database. The database requires 4194304 additional free bytes, while only" "Msg 3119" "Msg 3013"
    holds "full disk: nothing written" test ! -e "$work/small/c.mdf"
    absent "full disk: not in the catalog" "$(q "$p" "SELECT name FROM master.dbo.sysdatabases WHERE name = N'Copy'")" "(1 row affected)"
    # A new file is given its whole size as it is made: a file larger than the room left fails
    # there, with 112, and the files made before it go away.
    out=$(q "$p" "CREATE DATABASE Wide ON (NAME = w, FILENAME = N'$work/small/w.mdf', SIZE = 1MB) LOG ON (NAME = w_log, FILENAME = N'$work/small/w.ldf', SIZE = 4MB)")
    check "full disk: create" "$out" "Msg 5149 (severity 16, state 3)" \
        "MODIFY FILE encountered operating system error 112(There is not enough space on the disk.) while attempting to expand the physical file '$work/small/w.ldf'." \
        "Msg 1802 (severity 16, state 4)"
    absent "full disk: create is not access" "$out" "Access is denied" "Msg 5123"
    holds "full disk: nothing left of the create" test -z "$(ls "$work/small")"
    start full2000 2000
    check "full disk: 2000 names no file" "$(q "$port" "CREATE DATABASE Wide ON (NAME = w, FILENAME = N'$work/small/w.mdf', SIZE = 1MB) LOG ON (NAME = w_log, FILENAME = N'$work/small/w.ldf', SIZE = 4MB)")" \
        "MODIFY FILE encountered operating system error 112(There is not enough space on the disk.) while attempting to expand the physical file."
fi

finish
