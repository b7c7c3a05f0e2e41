#!/bin/bash
# Sessions, editions and free space, checked with FreeTDS's own clients: a second client holds a
# database open while another asks who uses it, restores, drops, detaches, or ends it with
# ROLLBACK IMMEDIATE; an Express stand-in refuses data past its cap; each version answers free space
# with the functions it has.
source "$(dirname "$0")/conformance_lib.sh"

hold() { # hold PORT DATABASE SECONDS OUTFILE: a client inside the database, then one more statement
    (printf 'use [%s]\ngo\n' "$2"; sleep "$3"; printf 'select 42 as still_here\ngo\nquit\n') |
        TDSVER=7.4 timeout 60 tsql -H 127.0.0.1 -p "$1" -U sa -P pvtmo >"$4" 2>&1 &
    for _ in $(seq 50); do
        run_tsql "$1" 7.4 "select spid from master..sysprocesses where dbid = db_id(N'$2')" | grep -q '^[0-9]' && return
        sleep 0.1
    done
}

start s2019 2019
run_tsql "$port" 7.4 "create database [Склад]
backup database [Склад] to disk = N'$work/sklad.bak'" >/dev/null
hold "$port" "Склад" 4 "$work/holder"
out=$(run_tsql "$port" 7.4 "select session_id, login_name, host_name, program_name from sys.dm_exec_sessions where database_id = db_id(N'Склад')")
check "2019 dm_exec_sessions names the other client" "$out" "TSQL" "sa" "$(hostname)"
# The server's own sessions have no program, and a status the view documents.
check "2019 system sessions" "$(run_tsql "$port" 7.4 "select program_name, status from sys.dm_exec_sessions where session_id = 1")" "$(printf 'NULL\tsleeping')"
out=$(run_tsql "$port" 7.4 "select spid, loginame, hostname, program_name from master..sysprocesses where dbid = db_id(N'Склад')")
check "2019 sysprocesses names the other client" "$out" "TSQL"
out=$(run_tsql "$port" 7.4 "drop database [Склад]")
check "2019 drop while in use" "$out" "Msg 3702" 'Cannot drop database "Склад" because it is currently in use.'
out=$(run_tsql "$port" 7.4 "exec sp_detach_db N'Склад'")
check "2019 detach while in use" "$out" "Msg 3703" "Cannot detach the database 'Склад' because it is currently in use."
out=$(run_tsql "$port" 7.4 "restore database [Склад] from disk = N'$work/sklad.bak' with replace")
check "2019 restore while in use" "$out" "Msg 3101 (severity 16, state 1)" \
    "Exclusive access could not be obtained because the database is in use." "Msg 3013"
absent "2019 restore while in use" "$out" "Msg 3119"
out=$(run_tsql "$port" 7.4 "alter database [Склад] set single_user with no_wait")
check "2019 single user, no wait" "$out" "Msg 5061" "Msg 5069"
out=$(run_tsql "$port" 7.4 "alter database [Склад] set single_user with rollback immediate
select spid from master..sysprocesses where dbid = db_id(N'Склад')")
check "2019 rollback immediate" "$out" "Estimated rollback completion: 0%." "Estimated rollback completion: 100%."
holds "2019 rollback immediate leaves nobody else in it" bash -c '! grep -A1 "spid$" <<<"$1" | grep -qE "^[0-9]+$"' _ "$out"
sleep 5
absent "2019 the ended client's next statement fails" "$(cat "$work/holder")" "still_here"
hold "$port" "Склад" 3 "$work/holder2"
out=$(run_tsql "$port" 7.4 "use [Склад]")
check "2019 single user held by another" "$out" "Msg 924" \
    "Database 'Склад' is already open and can only have one user at a time."
# The one slot is taken: no option of the database changes, whatever the termination clause.
for clause in "" " with rollback immediate"; do
    check "2019 multi user$clause while another holds the slot" "$(run_tsql "$port" 7.4 "alter database [Склад] set multi_user$clause")" \
        "Msg 5064 (severity 16, state 1)" "Changes to the state or options of database 'Склад' cannot be made at this time. The database is in single-user mode, and a user is currently connected to it." \
        "Msg 5069 (severity 16, state 1)"
done
sleep 4
out=$(run_tsql "$port" 7.4 "select name, user_access_desc from sys.databases where name = N'Склад'")
check "2019 sys.databases says SINGLE_USER" "$out" "SINGLE_USER"
out=$(run_tsql "$port" 7.4 "alter database [Склад] set multi_user
restore database [Склад] from disk = N'$work/sklad.bak' with replace")
check "2019 multi user again, then the restore" "$out" "RESTORE DATABASE successfully processed"
out=$(run_tsql "$port" 7.4 "select user_access_desc from sys.databases where name = N'Склад'")
check "2019 sys.databases says MULTI_USER" "$out" "MULTI_USER"
check "2019 restore from inside the database" "$(run_tsql "$port" 7.4 "use [Склад]
restore database [Склад] from disk = N'$work/sklad.bak' with replace")" "Msg 3102 (severity 16, state 1)" \
    "RESTORE cannot process database 'Склад' because it is in use by this session. It is recommended that the master database be used when performing this operation." \
    "Msg 3013 (severity 16, state 1)" "RESTORE DATABASE is terminating abnormally."
# The user access is the database's own option, kept in its files: detached single-user (or
# restricted), the files come back so when attached, and every view of it says so.
run_tsql "$port" 7.4 "create database [Один] on (filename = N'$work/odyn.mdf') log on (filename = N'$work/odyn.ldf')
alter database [Один] set single_user with rollback immediate
exec sp_detach_db N'Один'
create database [Один] on (filename = N'$work/odyn.mdf') for attach" >/dev/null
out=$(run_tsql "$port" 7.4 "select user_access, user_access_desc from sys.databases where name = N'Один'")
check "2019 single user kept through detach and attach" "$out" $'1\tSINGLE_USER'
out=$(run_tsql "$port" 7.4 "select databasepropertyex(N'Один', 'UserAccess') as ua, databasepropertyex(N'Немає', 'UserAccess') as none")
check "2019 DATABASEPROPERTYEX says SINGLE_USER" "$out" $'SINGLE_USER\tNULL'
run_tsql "$port" 7.4 "alter database [Один] set restricted_user
exec sp_detach_db N'Один'
create database [Один] on (filename = N'$work/odyn.mdf') for attach" >/dev/null
out=$(run_tsql "$port" 7.4 "select user_access, user_access_desc from sys.databases where name = N'Один'
select databasepropertyex(N'Один', 'UserAccess') as ua")
check "2019 restricted user kept through detach and attach" "$out" $'2\tRESTRICTED_USER'
holds "2019 DATABASEPROPERTYEX says RESTRICTED_USER" grep -qx RESTRICTED_USER <<<"$out"
out=$(run_tsql "$port" 7.4 "alter database [Один] set multi_user
select databasepropertyex(N'Один', 'UserAccess') as ua")
check "2019 multi user again" "$out" "MULTI_USER"
# A restart keeps it too: the server reads it from the database's own files.
run_tsql "$port" 7.4 "alter database [Один] set single_user" >/dev/null
kill "${pids[-1]}" && wait "${pids[-1]}" 2>/dev/null
start s2019 2019
out=$(run_tsql "$port" 7.4 "select user_access_desc from sys.databases where name = N'Один'")
check "2019 single user kept through a restart" "$out" "SINGLE_USER"
# The files say it from the ALTER on, as the boot page does: detached and attached again, the
# primary file's bytes are as they were.
before=$(md5sum <"$work/odyn.mdf")
run_tsql "$port" 7.4 "exec sp_detach_db N'Один'
create database [Один] on (filename = N'$work/odyn.mdf') for attach" >/dev/null
holds "2019 detach and attach give a single-user database's file back as it was" \
    test "$before" = "$(md5sum <"$work/odyn.mdf")"
run_tsql "$port" 7.4 "alter database [Один] set multi_user" >/dev/null
run_tsql "$port" 7.4 "create database Wide on (name = Wide, filename = N'$work/wide.mdf', size = 2MB) log on (name = Wide_log, filename = N'$work/wide.ldf')
exec sp_detach_db N'Wide'" >/dev/null

start s2005 2005
run_tsql "$port" 7.2 "create database Sklad" >/dev/null
hold "$port" Sklad 2 "$work/holder3"
out=$(run_tsql "$port" 7.2 "select session_id, program_name from sys.dm_exec_sessions")
check "2005 dm_exec_sessions" "$out" "TSQL"
out=$(run_tsql "$port" 7.2 "select database_id from sys.dm_exec_sessions")
check "2005 has no database_id in dm_exec_sessions" "$out" "Msg 207"
out=$(run_tsql "$port" 7.2 "select spid, program_name from sys.sysprocesses where dbid = db_id(N'Sklad')")
check "2005 sys.sysprocesses" "$out" "TSQL"

start s2000 2000 --edition express
run_tsql "$port" 7.1 "create database Sklad" >/dev/null
hold "$port" Sklad 2 "$work/holder4"
out=$(run_tsql "$port" 7.1 "select spid, program_name from master..sysprocesses where dbid = db_id(N'Sklad')")
check "2000 sysprocesses" "$out" "TSQL"
out=$(run_tsql "$port" 7.1 "drop database Sklad")
check "2000 drop while in use" "$out" "Cannot drop the database 'Sklad' because it is currently in use."
# 2000's message table: 5070 (no final full stop) then 5069 where later versions say 5061; 1805 per
# file a CREATE DATABASE allocates; 1827 worded CREATE/ALTER.
out=$(run_tsql "$port" 7.1 "alter database Sklad set single_user with no_wait")
check "2000 single user, no wait" "$out" "Msg 5070" "Database state cannot be changed while other users are using the database 'Sklad'" "Msg 5069"
absent "2000 single user, no wait" "$out" "Msg 5061"
check "2000 create allocates" "$(run_tsql "$port" 7.1 "create database Alloc")" \
    "The CREATE DATABASE process is allocating 1.00 MB on disk 'Alloc'." "The CREATE DATABASE process is allocating 1.00 MB on disk 'Alloc_log'."
check "2000 Express cap" "$(run_tsql "$port" 7.1 "create database Big on (name = big, filename = N'$work/big.mdf', size = 3GB)")" \
    "Msg 1827" "CREATE/ALTER DATABASE failed because the resulting cumulative database size would exceed your licensed limit of 2048 MB per database."
sleep 2
hold "$port" Sklad 3 "$work/holder5"
out=$(run_tsql "$port" 7.1 "alter database Sklad set single_user with rollback immediate
drop database Sklad")
check "2000 rollback immediate, then the drop" "$out" "Nonqualified transactions are being rolled back."
absent "2000 rollback immediate, then the drop" "$out" "Msg 3702"
run_tsql "$port" 7.1 "create database Odyn on (filename = N'$work/odyn2000.mdf') log on (filename = N'$work/odyn2000.ldf')
alter database Odyn set single_user
exec sp_detach_db N'Odyn'
create database Odyn on (filename = N'$work/odyn2000.mdf') for attach" >/dev/null
out=$(run_tsql "$port" 7.1 "select status from master..sysdatabases where name = N'Odyn'")
holds "2000 single user kept through detach and attach (status 4096)" \
    bash -c 'n=$(grep -A1 "status$" <<<"$1" | tail -1); (( (n & 4096) != 0 ))' _ "$out"
out=$(run_tsql "$port" 7.1 "select databasepropertyex(N'Odyn', 'UserAccess') as ua")
check "2000 DATABASEPROPERTYEX says SINGLE_USER" "$out" "SINGLE_USER"
out=$(run_tsql "$port" 7.1 "select serverproperty('Edition') as e, serverproperty('EngineEdition') as n")
check "2000 Desktop Engine" "$out" "Desktop Engine" $'\t1'
out=$(run_tsql "$port" 7.1 "exec master.dbo.xp_fixeddrives")
check "2000 xp_fixeddrives" "$out" "MB free"

# Express: the cap by version, lowered here to 1 MB so that small files pass it.
start s2019e 2019 --edition express --size-cap-mb 1
out=$(run_tsql "$port" 7.4 "select serverproperty('Edition') as e, serverproperty('EngineEdition') as n, @@version as v")
check "2019 Express names itself" "$out" "Express Edition (64-bit)" $'\t4'
out=$(run_tsql "$port" 7.4 "create database Big on (name = Big, filename = N'$work/s2019e/big.mdf', size = 2MB)")
check "2019 Express create past the cap" "$out" "Msg 1827" \
    "CREATE DATABASE or ALTER DATABASE failed because the resulting cumulative database size would exceed your licensed limit of 1 MB per database."
cp "$work/sklad.bak" "$work/s2019e/"
out=$(run_tsql "$port" 7.4 "restore database Sklad from disk = N'$work/s2019e/sklad.bak' with move N'Склад' to N'$work/s2019e/s.mdf', move N'Склад_log' to N'$work/s2019e/s.ldf'")
check "2019 Express restore past the cap" "$out" "Msg 1827" "licensed limit of 1 MB per database" \
    "RESTORE DATABASE is terminating abnormally."
out=$(run_tsql "$port" 7.4 "create database Wide on (filename = N'$work/wide.mdf'), (filename = N'$work/wide.ldf') for attach")
check "2019 Express attach past the cap" "$out" "Msg 1827" "licensed limit of 1 MB per database"
out=$(run_tsql "$port" 7.4 "select name from sys.databases where name = N'Wide'")
absent "2019 Express attached nothing" "$out" "Wide"
start s2016s 2016 --edition standard
out=$(run_tsql "$port" 7.4 "select serverproperty('EngineEdition') as n, serverproperty('Edition') as e")
check "2016 Standard" "$out" "Standard Edition (64-bit)"

# Free space, with the best function each version has.
out=$(run_tsql "$port" 7.4 "exec master.dbo.xp_fixeddrives")
check "2016 xp_fixeddrives" "$out" "MB free"
run_tsql "$port" 7.4 "create database Sklad" >/dev/null
out=$(run_tsql "$port" 7.4 "select volume_mount_point, available_bytes from sys.dm_os_volume_stats(5, 1)")
check "2016 dm_os_volume_stats" "$out" "available_bytes" "/"
start s2019f 2019
out=$(run_tsql "$port" 7.4 "select fixed_drive_path, free_space_in_bytes from sys.dm_os_enumerate_fixed_drives")
check "2019 dm_os_enumerate_fixed_drives" "$out" "free_space_in_bytes" "/"
out=$(run_tsql "$port" 7.4 "exec master.dbo.xp_fixeddrives")
check "2019 on Linux has no xp_fixeddrives" "$out" "Msg 2812"
# A drive that is a mount point of its own is that file system's room, not its parent's.
if [ "$(id -u)" = 0 ] && mkdir -p "$work/ddrive" && mount -t tmpfs -o size=4m tmpfs "$work/ddrive"; then
    mkdir -p "$work/s2016d"
    start s2016d 2016 --drive "C=$work/s2016d" --drive "D=$work/ddrive"
    out=$(run_tsql "$port" 7.4 "exec master.dbo.xp_fixeddrives")
    holds "2016 xp_fixeddrives: a drive on its own small disk" bash -c 'grep -qE "^D[[:space:]]+[0-4]$" <<<"$1"' _ "$out"
    umount -l "$work/ddrive"
fi
start s2008 2008
out=$(run_tsql "$port" 7.3 "select available_bytes from sys.dm_os_volume_stats(1, 1)")
check "2008 RTM has no dm_os_volume_stats" "$out" "Msg 208"

# Another client takes the slot the moment ROLLBACK IMMEDIATE frees it (--another-client-takes-single-user):
# the restore after it finds the database in use, and MULTI_USER cannot be set until that client leaves.
start taken 2019 --another-client-takes-single-user 2000
run_tsql "$port" 7.4 "create database T
backup database T to disk = N'$work/t.bak'" >/dev/null
out=$(run_tsql "$port" 7.4 "alter database T set single_user with rollback immediate
restore database T from disk = N'$work/t.bak' with replace
alter database T set multi_user
select program_name from sys.dm_exec_sessions where database_id = db_id(N'T')")
check "taken slot" "$out" "Msg 3101" "Msg 5064" "Msg 5069" "(1 row affected)"
sleep 2.5
check "taken slot: free again once that client leaves" "$(run_tsql "$port" 7.4 "alter database T set multi_user
select user_access_desc from sys.databases where name = N'T'")" "MULTI_USER"

# HEADERONLY says what the backed-up database was: single-user when it was, and its own
# compatibility level (110 from 2012), not the level of the server reading the set.
header_value() { # header_value NAME TSQL_OUTPUT -> the named column of the first row
    awk -F'\t' -v name="$1" 'found { print $col; exit } { for (i = 1; i <= NF; i++) if ($i == name) { col = i; found = 1 } }' <<<"$2"
}
start h2012 2012
run_tsql "$port" 7.4 "create database H
alter database H set single_user with rollback immediate
backup database H to disk = N'$work/h.bak'" >/dev/null
start h2019 2019
out=$(run_tsql "$port" 7.4 "restore headeronly from disk = N'$work/h.bak'")
holds "headeronly: single user" test "$(header_value IsSingleUser "$out")" = 1
holds "headeronly: the database's level" test "$(header_value CompatibilityLevel "$out")" = 110

finish
