#!/usr/bin/env bash
# zelvaro-devserver attaching a database from its data file alone, through FreeTDS's tsql, on the
# 2000 and the 2019 personality: the log rebuilt after a clean detach, refused for a file copied
# from an online database (as a copy of a live SQL Server file is not cleanly shut down) and for a
# database of several logs, FOR ATTACH_REBUILD_LOG and sp_attach_single_file_db.
. "${BASH_SOURCE%/*}/conformance_lib.sh"

# The three lines Zelvaro sends, with CR LF between them.
attach_alone() { # attach_alone NAME MDF [FOR-CLAUSE]
    printf 'CREATE DATABASE [%s]\r\nON PRIMARY (FILENAME = N'"'"'%s'"'"')\r\nFOR %s' "$1" "$2" "${3:-ATTACH}"
}
files_of() { # files_of PORT NAME
    run_tsql "$1" 7.4 "SELECT fileid, groupid, name, filename FROM master.dbo.sysaltfiles WHERE dbid = DB_ID(N'$2') ORDER BY fileid"
}

for version in 2000 2019; do
    start "v$version" "$version"
    p=$port
    f="$work/v$version"
    if [ "$version" = 2000 ]; then
        activation() { echo "Device activation error. The physical file name '$1' may be incorrect."; }
        unclean=("Msg 1818" "Primary log file '$f/u.ldf' is missing and the database was not cleanly shut down so it cannot be rebuilt.")
        open_log=("Msg 5105" "Msg 1813")
    else
        activation() { echo "File activation failure. The physical file name \"$1\" may be incorrect."; }
        unclean=("The log cannot be rebuilt because there were open transactions/users when the database was shutdown, no checkpoint occurred to the database, or the database was read-only.")
        open_log=("Msg 5120" "Operating system error 2" "Msg 1802")
    fi

    # Detached cleanly, log lost: a new log beside the data file, named after the data file.
    run_tsql "$p" 7.4 "CREATE DATABASE [Чист] ON (NAME = c, FILENAME = N'$f/c.mdf') LOG ON (NAME = c_log, FILENAME = N'$f/c.ldf')
EXEC sp_detach_db N'Чист'" >/dev/null
    rm -f "$f/c.ldf"
    out=$(run_tsql "$p" 7.4 "$(attach_alone 'Чист' "$f/c.mdf")")
    # Informational messages (severity 10 in the message table) go out as class 0, as SQL Server
    # converts them.
    check "$version clean attach" "$out" "$(activation "$f/c.ldf")" "New log file '$f/c_log.LDF' was created." "Msg 5182 (severity 0,"
    absent "$version clean attach" "$out" "Msg 1813" "Msg 1802" "Msg 5113" "Msg 1818"
    holds "$version new log on disk" test -f "$f/c_log.LDF"
    check "$version new log listed" "$(files_of "$p" 'Чист')" "(2 rows affected)" "$(printf '2\t0\tc_log')" "$f/c_log.LDF"

    # Through ODBC the rebuild is a success with warnings, on the protocol the version speaks.
    run_tsql "$p" 7.4 "EXEC sp_detach_db N'Чист'" >/dev/null
    rm -f "$f/c_log.LDF"
    tds=7.4
    [ "$version" = 2000 ] && tds=7.1
    out=$(run_isql "$p" "$tds" "CREATE DATABASE [Чист] ON PRIMARY (FILENAME = N'$f/c.mdf') FOR ATTACH")
    absent "$version isql rebuild" "$out" "ERROR"
    check "$version isql rebuild" "$out" "was created" "SQLRowCount returns"
    holds "$version isql new log on disk" test -f "$f/c_log.LDF"

    # The file where the log was is another database's log: said so, and a new log is built.
    run_tsql "$p" 7.4 "CREATE DATABASE D ON (NAME = d, FILENAME = N'$f/d.mdf') LOG ON (NAME = d_log, FILENAME = N'$f/d.ldf')
EXEC sp_detach_db N'D'" >/dev/null
    cp "$f/c_log.LDF" "$f/d.ldf"
    out=$(run_tsql "$p" 7.4 "$(attach_alone D "$f/d.mdf")")
    # 2000's text has two spaces after the first sentence.
    mismatch="Log file '$f/d.ldf' does not match the primary file. It may be"
    [ "$version" = 2000 ] && mismatch="Log file '$f/d.ldf' does not match the primary file.  It may be"
    check "$version foreign log" "$out" "Msg 5108" "$mismatch" "New log file '$f/d_log.LDF' was created."
    absent "$version foreign log" "$out" "Msg 1813" "$(activation "$f/d.ldf")"

    # A copy of an online database's data file was not shut down cleanly.
    run_tsql "$p" 7.4 "CREATE DATABASE U ON (NAME = u, FILENAME = N'$f/u.mdf') LOG ON (NAME = u_log, FILENAME = N'$f/u.ldf')" >/dev/null
    cp "$f/u.mdf" "$f/copy.mdf"
    cp "$f/copy.mdf" "$f/copy.before"
    run_tsql "$p" 7.4 "DROP DATABASE U" >/dev/null
    out=$(run_tsql "$p" 7.4 "$(attach_alone V "$f/copy.mdf")")
    check "$version unclean attach" "$out" "${unclean[@]}" "Msg 1813" "Could not open new database 'V'. CREATE DATABASE is aborted."
    absent "$version unclean attach" "$out" "was created"
    holds "$version unclean: no new log" test ! -e "$f/copy_log.LDF"
    holds "$version unclean: data file untouched" cmp -s "$f/copy.mdf" "$f/copy.before"
    absent "$version unclean: not attached" "$(run_tsql "$p" 7.4 'SELECT name FROM master.dbo.sysdatabases')" "V"

    # Several logs, detached cleanly, both lost.
    run_tsql "$p" 7.4 "CREATE DATABASE M ON (NAME = m, FILENAME = N'$f/m.mdf') LOG ON (NAME = ml1, FILENAME = N'$f/ml1.ldf'), (NAME = ml2, FILENAME = N'$f/ml2.ldf')
EXEC sp_detach_db N'M'" >/dev/null
    rm -f "$f/ml1.ldf" "$f/ml2.ldf"
    cp "$f/m.mdf" "$f/m.before"
    out=$(run_tsql "$p" 7.4 "$(attach_alone M "$f/m.mdf")")
    check "$version several logs" "$out" "$(activation "$f/ml1.ldf")" "Msg 1813"
    [ "$version" = 2000 ] || check "$version several logs" "$out" "The log was not rebuilt because there is more than one log file."
    holds "$version several logs: nothing written" test ! -e "$f/m_log.LDF"
    holds "$version several logs: data file untouched" cmp -s "$f/m.mdf" "$f/m.before"

    out=$(run_tsql "$p" 7.4 "$(attach_alone M "$f/m.mdf" ATTACH_REBUILD_LOG)")
    if [ "$version" = 2000 ]; then
        check "$version rebuild_log" "$out" "Msg 170" "Line 3: Incorrect syntax near 'ATTACH_REBUILD_LOG'."
        absent "$version rebuild_log" "$out" "was created"
    else
        check "$version rebuild_log" "$out" "$(activation "$f/ml2.ldf")" "New log file '$f/m_log.LDF' was created."
        absent "$version rebuild_log" "$out" "Msg 1813"
        check "$version rebuild_log files" "$(files_of "$p" M)" "(2 rows affected)" "$(printf '2\t0\tml1')" "$f/m_log.LDF"
        out=$(run_tsql "$p" 7.4 "$(attach_alone W "$f/copy.mdf" ATTACH_REBUILD_LOG)")
        check "$version rebuild_log unclean" "$out" "${unclean[@]}" "Msg 1813"
        holds "$version rebuild_log unclean: no new log" test ! -e "$f/copy_log.LDF"
    fi

    # sp_attach_single_file_db: the same rules, with a return status.
    run_tsql "$p" 7.4 "CREATE DATABASE S ON (NAME = s, FILENAME = N'$f/s.mdf') LOG ON (NAME = s_log, FILENAME = N'$f/s.ldf')
EXEC sp_detach_db N'S'" >/dev/null
    rm -f "$f/s.ldf"
    out=$(run_tsql "$p" 7.4 "EXEC sp_attach_single_file_db @dbname = N'S', @physname = N'$f/s.mdf'")
    check "$version single file" "$out" "New log file '$f/s_log.LDF' was created." "(return status = 0)"
    check "$version single file listed" "$(files_of "$p" S)" "$(printf '2\t0\ts_log')" "$f/s_log.LDF"
    out=$(run_tsql "$p" 7.4 "EXEC sp_attach_single_file_db N'X', N'$f/copy.mdf'")
    check "$version single file unclean" "$out" "${unclean[@]}" "Msg 1813" "(return status = 1)"

    # The same shipped data file attached a second time: the log built the first time is in the way.
    run_tsql "$p" 7.4 "CREATE DATABASE T ON (NAME = t, FILENAME = N'$f/t.mdf') LOG ON (NAME = t_log, FILENAME = N'$f/t.ldf')
EXEC sp_detach_db N'T'" >/dev/null
    rm -f "$f/t.ldf"
    cp "$f/t.mdf" "$f/t.shipped"
    run_tsql "$p" 7.4 "$(attach_alone T "$f/t.mdf")
EXEC sp_detach_db N'T'" >/dev/null
    cp "$f/t.shipped" "$f/t.mdf"
    exists="Cannot create file '$f/t_log.LDF' because it already exists."
    [ "$version" = 2000 ] || exists="$exists Change the file path or the file name, and retry the operation."
    out=$(run_tsql "$p" 7.4 "$(attach_alone T "$f/t.mdf")")
    check "$version log in the way" "$out" "Msg 5170" "$exists" "Msg 1813"
    absent "$version log in the way" "$out" "was created"
    absent "$version log in the way: not attached" "$(run_tsql "$p" 7.4 "SELECT name FROM master.dbo.sysdatabases WHERE name = N'T'")" "(1 row affected)"

    # A log still where the data file last saw it is used as it is.
    run_tsql "$p" 7.4 "CREATE DATABASE K ON (NAME = k, FILENAME = N'$f/k.mdf') LOG ON (NAME = k_log, FILENAME = N'$f/k.ldf')
EXEC sp_detach_db N'K'" >/dev/null
    out=$(run_tsql "$p" 7.4 "$(attach_alone K "$f/k.mdf")")
    absent "$version log beside" "$out" "Msg " "was created"
    check "$version log beside listed" "$(files_of "$p" K)" "$(printf '2\t0\tk_log')" "$f/k.ldf"

    # A missing log named in LOG ON is an error, clean or not.
    run_tsql "$p" 7.4 "EXEC sp_detach_db N'K'" >/dev/null
    out=$(run_tsql "$p" 7.4 "CREATE DATABASE K ON (FILENAME = N'$f/k.mdf') LOG ON (FILENAME = N'$f/none.ldf') FOR ATTACH")
    check "$version named log missing" "$out" "${open_log[@]}"
    absent "$version named log missing" "$out" "was created"
done

# A server with a default log folder builds the new log there.
start logdir 2019 --default-log-dir "$work/logs"
mkdir -p "$work/logs"
f="$work/logdir"
run_tsql "$port" 7.4 "CREATE DATABASE L ON (NAME = l, FILENAME = N'$f/l.mdf') LOG ON (NAME = l_log, FILENAME = N'$f/l.ldf')
EXEC sp_detach_db N'L'" >/dev/null
rm -f "$f/l.ldf"
out=$(run_tsql "$port" 7.4 "$(attach_alone L "$f/l.mdf")")
check "default log folder" "$out" "New log file '$work/logs/l_log.LDF' was created."
holds "default log folder: log there" test -f "$work/logs/l_log.LDF"

finish
