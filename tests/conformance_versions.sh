#!/usr/bin/env bash
# zelvaro-devserver and the on-disk versions of databases, through FreeTDS's tsql: files and backups
# of one personality attached and restored on another. A newer file ends the connection (948, 602 on
# 2000), a 2000 file is refused from 2012 on (950), an older one is converted step by step (944,
# 951) and keeps its new version; a newer backup is unreadable media before 2012 (3241, 3205 on
# 2000) and 3169 after, as is a 2000 backup from 2012 on.
. "${BASH_SOURCE%/*}/conformance_lib.sh"

declare -A portOf
for version in 2000 2005 2008 2012 2016 2017 2019 2022; do
    start "v$version" "$version"
    portOf[$version]=$port
done
files="$work/files"
mkdir -p "$files"

make_files() { # make_files VERSION NAME: a database created there and detached, its files left in $files
    run_tsql "${portOf[$1]}" 7.4 "CREATE DATABASE [$2] ON (NAME = d, FILENAME = N'$files/$2.mdf') LOG ON (NAME = d_log, FILENAME = N'$files/$2.ldf')
EXEC sp_detach_db N'$2'" >/dev/null
}
attach_on() { # attach_on VERSION NAME [AS]: the attach, then a statement that shows whether the connection lived
    run_tsql "${portOf[$1]}" 7.4 "CREATE DATABASE [${3:-$2}] ON (FILENAME = N'$files/$2.mdf'), (FILENAME = N'$files/$2.ldf') FOR ATTACH
go
SELECT 'still connected'"
}
listed() { # listed VERSION NAME: "count=N", how many databases of that name the server has
    local rows
    rows=$(run_tsql "${portOf[$1]}" 7.4 "SELECT name FROM master.dbo.sysdatabases WHERE name = N'$2'" |
        sed -n 's/.*(\([0-9]*\) rows\{0,1\} affected).*/\1/p')
    echo "count=${rows:-0}" # tsql prints no count for an empty result
}

# A newer file on an older server: 1813, then 948 at severity 20, and the connection is gone.
make_files 2019 n19
out=$(attach_on 2016 n19)
check "newer file" "$out" "Msg 1813" "Msg 948 (severity 20" \
    "The database 'n19' cannot be opened because it is version 904. This server supports version 852 and earlier. A downgrade path is not supported."
absent "newer file ends the connection" "$out" "still connected"
check "newer file not attached" "$(listed 2016 n19)" "count=0"
# 2000 has no 948: its own catalog tables are not where it looks, at severity 21.
make_files 2005 n05
out=$(attach_on 2000 n05)
check "2005 file on 2000" "$out" "Msg 602 (severity 21" "Could not find row in sysindexes for database ID"
absent "2005 file on 2000 ends the connection" "$out" "still connected"

# A 2000 file on 2012 and later: refused with 950.
make_files 2000 n00
out=$(attach_on 2012 n00)
check "2000 file on 2012" "$out" "Msg 1813" "Msg 950 (severity 20" \
    "Database 'n00' cannot be upgraded because its non-release version (539) is not supported by this version of SQL Server."
absent "2000 file on 2012 ends the connection" "$out" "still connected"

# An older file on a newer server: converted in place through the real steps, which skip versions.
out=$(attach_on 2005 n00)
check "2000 file on 2005" "$out" "Converting database 'n00' from version 539 to the current version 611." \
    "Database 'n00' running the upgrade step from version 539 to version 551." \
    "Database 'n00' running the upgrade step from version 551 to version 552." \
    "Database 'n00' running the upgrade step from version 552 to version 611." "still connected"
absent "2000 file on 2005" "$out" "from version 540 to"
check "upgraded attach listed" "$(listed 2005 n00)" "count=1"
# Having been upgraded, the files are 2005's: 2000 can no longer open them.
run_tsql "${portOf[2005]}" 7.4 "EXEC sp_detach_db N'n00'" >/dev/null
check "upgraded files stay upgraded" "$(attach_on 2000 n00)" "Msg 602"
out=$(attach_on 2008 n00)
check "2005 file on 2008" "$out" "Converting database 'n00' from version 611 to the current version 655." \
    "running the upgrade step from version 611 to version 621." "from version 622 to version 625." \
    "from version 654 to version 655."
make_files 2016 n16
out=$(attach_on 2019 n16)
check "2016 file on 2019" "$out" "Converting database 'n16' from version 852 to the current version 904." \
    "from version 852 to version 853." "from version 903 to version 904." "still connected"
run_tsql "${portOf[2019]}" 7.4 "EXEC sp_detach_db N'n16'" >/dev/null
# A real 706 to 904 conversion on 2019 logs 112 steps: 782 to 801 and 869 to 875 are single jumps.
make_files 2012 n12
out=$(attach_on 2019 n12)
check "2012 file on 2019" "$out" "from version 782 to version 801." "from version 869 to version 875."
holds "2012 file on 2019: 112 steps" test "$(grep -c 'running the upgrade step' <<<"$out")" = 112
run_tsql "${portOf[2019]}" 7.4 "EXEC sp_detach_db N'n12'" >/dev/null
check "upgraded on 2019, refused on 2017" "$(attach_on 2017 n16)" "Msg 948" "version 904. This server supports version 869 and earlier."

# Backups: a newer one cannot be read as media on 2000 (3205), 2005 and 2008 (3241) …
run_tsql "${portOf[2012]}" 7.4 "CREATE DATABASE b12
BACKUP DATABASE b12 TO DISK = N'$files/b12.bak'" >/dev/null
for version in 2000 2005 2008; do
    if [ "$version" = 2000 ]; then
        unreadable=("Msg 3205" "Too many backup devices specified for backup or restore; only 64 are allowed.")
    else
        unreadable=("Msg 3241" "The media family on device '$files/b12.bak' is incorrectly formed. SQL Server cannot process this media family.")
    fi
    for statement in "RESTORE HEADERONLY" "RESTORE FILELISTONLY" "RESTORE DATABASE b12"; do
        out=$(run_tsql "${portOf[$version]}" 7.4 "$statement FROM DISK = N'$files/b12.bak'")
        check "$version $statement newer" "$out" "${unreadable[@]}" "Msg 3013"
        absent "$version $statement newer" "$out" "Msg 3169"
    done
done
# … and 2012 and later refuse a 2000 backup with 3169, naming both versions.
run_tsql "${portOf[2000]}" 7.1 "CREATE DATABASE b00
BACKUP DATABASE b00 TO DISK = N'$files/b00.bak'" >/dev/null
out=$(run_tsql "${portOf[2012]}" 7.4 "RESTORE DATABASE b00 FROM DISK = N'$files/b00.bak' WITH MOVE N'b00' TO N'$files/r00.mdf', MOVE N'b00_log' TO N'$files/r00.ldf'")
check "2000 backup on 2012" "$out" "Msg 3169" \
    "The database was backed up on a server running version 8.00.2039. That version is incompatible with this server, which is running version 11.00.2100." \
    "RESTORE DATABASE is terminating abnormally."
# 2005 restores it, converting it through the same steps as an attach.
out=$(run_tsql "${portOf[2005]}" 7.4 "RESTORE DATABASE b00 FROM DISK = N'$files/b00.bak' WITH MOVE N'b00' TO N'$files/r00.mdf', MOVE N'b00_log' TO N'$files/r00.ldf'")
check "2000 backup on 2005" "$out" "Converting database 'b00' from version 539 to the current version 611." \
    "from version 552 to version 611." "RESTORE DATABASE successfully processed"
# The restored files are 2005's.
run_tsql "${portOf[2005]}" 7.4 "EXEC sp_detach_db N'b00'" >/dev/null
out=$(run_tsql "${portOf[2000]}" 7.1 "CREATE DATABASE r00 ON (FILENAME = N'$files/r00.mdf'), (FILENAME = N'$files/r00.ldf') FOR ATTACH")
check "restored files keep the new version" "$out" "Msg 602"
# HEADERONLY's DatabaseVersion is the version the database had where it was backed up.
check "headeronly database version" "$(run_tsql "${portOf[2005]}" 7.4 "RESTORE HEADERONLY FROM DISK = N'$files/b00.bak'")" "539"

# DBCC CHECKPRIMARYFILE reads a primary file that is not attached: whether it is one (0), its files
# (1, 3), its name, version and collation (2), also when this server could not attach it.
make_files 2022 Нова
p=${portOf[2016]}
out=$(run_isql "$p" 7.4 "DBCC CHECKPRIMARYFILE (N'$files/Нова.mdf', 2) WITH NO_INFOMSGS")
check "checkprimaryfile 2" "$out" "| Database name" "| Нова" "| Database version" "| 957" "| Collation" "| 872468488" "SQLRowCount returns 3"
absent "checkprimaryfile 2 no messages" "$out" "DBCC execution completed"
check "checkprimaryfile 0" "$(run_isql "$p" 7.4 "DBCC CHECKPRIMARYFILE (N'$files/Нова.mdf', 0)
DBCC CHECKPRIMARYFILE (N'$files/Нова.ldf', 0)")" "| IsMDF" "| 1" "| 0"
out=$(run_tsql "$p" 7.4 "DBCC CHECKPRIMARYFILE (N'$files/Нова.mdf', 3)")
check "checkprimaryfile 3" "$out" "$(printf 'status\tfileid\tname\tfilename')" "$(printf '1048578\t1\td ')" \
    "$(printf '1048642\t2\td_log ')" "$files/Нова.ldf" "(2 rows affected)" "Msg 2528" "DBCC execution completed."
check "checkprimaryfile 1" "$(run_tsql "$p" 7.4 "DBCC CHECKPRIMARYFILE (N'$files/Нова.mdf', 1)")" \
    "$(printf 'fileid\tgroupid\tsize\tmaxsize\tgrowth\tstatus\tperf\tname\tfilename')" "(2 rows affected)"
check "checkprimaryfile of a log" "$(run_tsql "$p" 7.4 "DBCC CHECKPRIMARYFILE (N'$files/Нова.ldf', 2)")" \
    "Msg 5171" "$files/Нова.ldf is not a primary database file."
check "checkprimaryfile of nothing" "$(run_tsql "$p" 7.4 "DBCC CHECKPRIMARYFILE (N'$files/none.mdf', 0)")" \
    "Msg 5120" "Operating system error 2"
check "checkprimaryfile on 2000" "$(run_isql "${portOf[2000]}" 7.1 "DBCC CHECKPRIMARYFILE (N'$files/n05.mdf', 2)")" \
    "| n05" "| 611"
check "nothing attached by checkprimaryfile" "$(listed 2016 Нова)" "count=0"

# Smaller differences a client meets.
# 2000 words 4060 its own way.
check "2000 4060" "$(printf 'quit\n' | tsql -H 127.0.0.1 -p "${portOf[2000]}" -U sa -P pvtmo -D nosuch 2>&1)" \
    "Cannot open database requested in login 'nosuch'. Login fails."
# A TDS 7.0 login is acknowledged as 7.0, and its rows carry no collations.
printf 'SELECT name FROM master.dbo.sysdatabases\ngo\nquit\n' |
    TDSVER=7.0 TDSDUMP="$work/dump70" tsql -H 127.0.0.1 -p "${portOf[2019]}" -U sa -P pvtmo >"$work/out70" 2>&1
check "TDS 7.0 acknowledged" "$(cat "$work/dump70")" "server reports TDS version 7.0.0.0"
check "TDS 7.0 rows" "$(cat "$work/out70")" "msdb" "(4 rows affected)"
# @@VERSION: four lines, each build's own date; Linux personalities name a distribution.
out=$(run_isql "${portOf[2012]}" 7.4 "SELECT @@VERSION")
check "2012 version lines" "$out" "Microsoft SQL Server 2012 - 11.0.2100.60 (X64)" "Feb 10 2012 19:39:15" "Copyright (c) Microsoft Corporation" "Developer Edition (64-bit) on Windows NT 6.1"
check "2019 version lines" "$(run_isql "${portOf[2019]}" 7.4 "SELECT @@VERSION")" "Sep 24 2019 13:48:23" "on Linux (Ubuntu 18.04.3 LTS)"
# sp_attach_db is there up to 2022.
run_tsql "${portOf[2019]}" 7.4 "CREATE DATABASE sa1 ON (NAME = s, FILENAME = N'$files/sa1.mdf') LOG ON (NAME = s_log, FILENAME = N'$files/sa1.ldf')
EXEC sp_detach_db N'sa1'" >/dev/null
out=$(run_tsql "${portOf[2019]}" 7.4 "EXEC sp_attach_db @dbname = N'sa1', @filename1 = N'$files/sa1.mdf', @filename2 = N'$files/sa1.ldf'")
absent "sp_attach_db" "$out" "Msg 2812" "Msg 201"
check "sp_attach_db attached" "$(listed 2019 sa1)" "count=1"
absent "sp_attach_db" "$(run_tsql "${portOf[2019]}" 7.4 "EXEC sp_detach_db N'sa1'
EXEC sp_attach_db N'sa1', N'$files/sa1.mdf'")" "Msg 2812" "Msg 201"
check "sp_attach_db wants its name" "$(run_tsql "${portOf[2000]}" 7.1 "EXEC sp_attach_db @filename1 = N'$files/x.mdf'")" \
    "Msg 201" "Procedure 'sp_attach_db' expects parameter '@dbname', which was not supplied."
# sys.databases has state and state_desc from 2005 on.
out=$(run_tsql "${portOf[2005]}" 7.4 "SELECT name, state, state_desc FROM sys.databases WHERE name = N'master'")
check "sys.databases state" "$out" "$(printf 'master\t0\tONLINE')"
# The SQL Server Browser gives 2000 as the version it shipped as.
browser=$((20000 + RANDOM % 20000))
start browser2000 2000 --browser-port "$browser"
out=$(python3 -c "
import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.settimeout(3)
s.sendto(b'\x03', ('127.0.0.1', $browser)); print(s.recvfrom(4096)[0][3:].decode())" 2>&1)
check "browser 2000 version" "$out" "Version;8.00.194;"
# HEADERONLY's TimeZone is a number from 2022 on.
out=$(run_isql "${portOf[2022]}" 7.4 "CREATE DATABASE tz
BACKUP DATABASE tz TO DISK = N'$files/tz.bak'
RESTORE HEADERONLY FROM DISK = N'$files/tz.bak'")
holds "2022 TimeZone is a number" grep -Eq '\| *-?[0-9]+ *\| *\|$' <<<"$(grep -m1 '| *tz' <<<"$out")"
# --collation is what the login and the columns carry, not only what SERVERPROPERTY says.
start cyrillic 2019 --collation Cyrillic_General_CI_AS
printf 'SELECT name FROM master.dbo.sysdatabases\ngo\nquit\n' |
    TDSDUMP="$work/dumpcoll" tsql -H 127.0.0.1 -p "$port" -U sa -P pvtmo >/dev/null 2>&1
check "collation at login" "$(cat "$work/dumpcoll")" 'setting server single-byte charset to "CP1251"' "0000 19 04 d0 00 00"

finish
