#!/bin/bash
# Logins and database users, checked with FreeTDS's tsql: a database from another server (the
# stand-in's --foreign-files) arrives by restore and by attach with users whose SIDs no login has
# and an owner this server does not know; the applications' logins cannot open it until the users
# are mapped, a login is created with a user's SID, and the owner is changed. Each step is read back
# from the server's own catalog.
source "$(dirname "$0")/conformance_lib.sh"

as_login() { # as_login PORT USER PASSWORD DATABASE BATCH: tsql logged in as that login
    local database=()
    [ -n "$4" ] && database=(-D "$4")
    printf '%s\ngo\nquit\n' "$5" | TDSVER=7.4 timeout 60 tsql -H 127.0.0.1 -p "$1" -U "$2" -P "$3" "${database[@]}" 2>&1
}

"$server" --foreign-files "$work/foreign" >/dev/null
holds "the foreign files are written" test -s "$work/foreign/Sales.bak" -a -s "$work/foreign/Sales.mdf"

for v in 2000 2008 2019; do
    start "s$v" "$v"
    restore="restore database [Sales] from disk = N'$work/foreign/Sales.bak' with move N'Sales' to N'$work/s$v/Sales.mdf', move N'Sales_log' to N'$work/s$v/Sales_log.ldf'"
    if [ "$v" = 2000 ]; then
        out=$(run_tsql "$port" 7.4 "exec sp_addlogin @loginame = N'app', @passwd = N'app-pass-1'
$restore")
        check "$v sp_addlogin" "$out" "New login created."
        out=$(run_tsql "$port" 7.4 "select name, sid, issqluser, isntuser from [Sales].dbo.sysusers")
        check "$v sysusers keeps the other server's SIDs" "$out" "9c1b6f0e4d2a47b18f3e5d6c7b8a9f01" "CORP\\olena"
        absent "$v no user without a login on 2000" "$out" "audit" "signer"
        out=$(run_tsql "$port" 7.4 "select sid from master.dbo.syslogins where name = N'app'")
        absent "$v the login has a SID of its own" "$out" "9c1b6f0e4d2a47b18f3e5d6c7b8a9f01"
    else
        out=$(run_tsql "$port" 7.4 "create login [app] with password = N'Weak1', check_policy = on")
        check "$v weak password" "$out" "Msg 15118" "not complex enough"
        out=$(run_tsql "$port" 7.4 "create login [app] with password = N'Kx9-pass-word'
$restore")
        check "$v restored" "$out" "RESTORE DATABASE successfully processed"
        out=$(run_tsql "$port" 7.4 "select name, type, sid from [Sales].sys.database_principals")
        check "$v database_principals keeps the other server's SIDs" "$out" "9c1b6f0e4d2a47b18f3e5d6c7b8a9f01" \
            "audit" "signer" "CORP\\olena"
    fi
    out=$(run_tsql "$port" 7.4 "use [Sales]
exec sp_change_users_login 'Report'")
    check "$v Report names the orphaned users" "$out" "app" "reporter" "бухгалтер" "dbo"
    absent "$v Report leaves out Windows users and users without a login" "$out" "olena" "audit" "signer"

    login_pw=$([ "$v" = 2000 ] && echo app-pass-1 || echo Kx9-pass-word)
    out=$(as_login "$port" app "$login_pw" Sales "select 1")
    check "$v the app's login cannot open its database" "$out" "Msg 4060" "Msg 18456"
    out=$(as_login "$port" app "$login_pw" "" "use [Sales]")
    check "$v USE by a login with no user there" "$out" "Msg 916"
    out=$(as_login "$port" reporter "Rep-pass-1" "" "select 1")
    check "$v a login the server does not have" "$out" "Msg 18456" "Login failed for user 'reporter'."

    if [ "$v" = 2000 ]; then
        out=$(run_tsql "$port" 7.4 "use [Sales]
exec sp_change_users_login 'Update_One', 'app', 'app'
exec sp_addlogin @loginame = N'reporter', @passwd = N'Rep-pass-1', @sid = 0x2F4E6D8CA1B3C5D7E9F10213243546A7
exec sp_changedbowner 'sa'")
        check "$v mapped, created, owner changed" "$out" "New login created." "Database owner changed."
        out=$(run_tsql "$port" 7.4 "select sid from master.dbo.sysdatabases where name = N'Sales'
select name, sid from [Sales].dbo.sysusers where uid = 1")
    else
        out=$(run_tsql "$port" 7.4 "use [Sales]
alter user [app] with login = [app]
create login [reporter] with password = N'Rep-pass-1', sid = 0x2F4E6D8CA1B3C5D7E9F10213243546A7
alter authorization on database::[Sales] to [sa]")
        absent "$v mapped, created, owner changed" "$out" "Msg "
        out=$(run_tsql "$port" 7.4 "select owner_sid from sys.databases where name = N'Sales'
select name, sid from [Sales].sys.database_principals where principal_id = 1")
    fi
    # tsql prints a varbinary as bare hex digits.
    check "$v the owner is sa" "$out" $'\n01\n' $'dbo\t01'
    absent "$v the old owner is gone" "$out" "3c5a7e9f1b2d4f6081a3c5e7092b4d6f"
    out=$(as_login "$port" app "$login_pw" Sales "select db_name()")
    check "$v the app's login opens its database" "$out" "Sales"
    absent "$v the app's login opens its database" "$out" "Msg "
    out=$(as_login "$port" app "$login_pw" "" "select suser_sname(), db_name()")
    check "$v SUSER_SNAME names the connected login" "$out" $'app\tmaster'
    out=$(as_login "$port" reporter "Rep-pass-1" Sales "select db_name()")
    check "$v the created login opens the database" "$out" "Sales"
    absent "$v the created login opens the database" "$out" "Msg "
    out=$(run_tsql "$port" 7.4 "use [Sales]
exec sp_change_users_login 'Report'")
    absent "$v nothing orphaned but бухгалтер" "$out" "app" "reporter"
    check "$v nothing orphaned but бухгалтер" "$out" "бухгалтер"

    # The mapping is the database's own: it travels with a detach and an attach.
    out=$(run_tsql "$port" 7.4 "exec sp_detach_db N'Sales'
create database [Sales] on (filename = N'$work/s$v/Sales.mdf') for attach")
    out=$(as_login "$port" app "$login_pw" Sales "select db_name()")
    absent "$v mapped after detach and attach" "$out" "Msg "
    # Files from another server attached here: the same orphans.
    cp "$work/foreign/Sales.mdf" "$work/s$v/SalesA.mdf"
    cp "$work/foreign/Sales_log.ldf" "$work/s$v/SalesA_log.ldf"
    run_tsql "$port" 7.4 "create database [SalesA] on (filename = N'$work/s$v/SalesA.mdf'), (filename = N'$work/s$v/SalesA_log.ldf') for attach" >/dev/null
    out=$(as_login "$port" app "$login_pw" SalesA "select 1")
    check "$v attached foreign files: the app cannot open them" "$out" "Msg 4060"
    out=$(run_tsql "$port" 7.4 "use [SalesA]
exec sp_change_users_login 'Auto_Fix', 'app'")
    check "$v Auto_Fix maps to the login of the name" "$out" \
        "The row for user 'app' will be fixed by updating its login link to a login already in existence." \
        "The number of orphaned users fixed by updating users was 1."
done

# Refusals, in SQL Server's words.
start s2019b 2019
out=$(run_tsql "$port" 7.4 "create login [x1] with password = N'Pass-word-1', sid = 0x01")
check "SID of the wrong length" "$out" "Msg 15419" "Supplied parameter sid should be binary(16)."
out=$(run_tsql "$port" 7.4 "create login [sa] with password = N'Pass-word-1'")
check "a login that exists" "$out" "Msg 15025" "The server principal 'sa' already exists."
out=$(run_tsql "$port" 7.4 "create login [x2] with password = N'Pass-word-1', sid = 0x2F4E6D8CA1B3C5D7E9F10213243546A7
create login [x3] with password = N'Pass-word-1', sid = 0x2F4E6D8CA1B3C5D7E9F10213243546A7")
check "a SID in use" "$out" "Msg 15433" "Supplied parameter sid is in use."
out=$(run_tsql "$port" 7.4 "create database [D]
use [D]
alter user [nobody] with login = [x2]")
check "ALTER USER of a user the database lacks" "$out" "Msg 15151" \
    "Cannot alter the user 'nobody', because it does not exist or you do not have permission."
out=$(run_tsql "$port" 7.4 "alter authorization on database::[D] to [ghost]")
check "a new owner the server lacks" "$out" "Msg 15151" \
    "Cannot find the principal 'ghost', because it does not exist or you do not have permission."
out=$(run_tsql "$port" 7.4 "select name, type, type_desc from sys.server_principals where name = N'x2'")
check "sys.server_principals lists the new login" "$out" "SQL_LOGIN"
finish
