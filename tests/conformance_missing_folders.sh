#!/usr/bin/env bash
# zelvaro-devserver through FreeTDS's tsql: a database created, attached or restored into a folder
# that does not exist, as each kind of server words it. 2000 has no directory lookup message (5105,
# "Device activation error"); Windows servers from 2005 look the folder up (5133, error 3, the path
# is not found); servers on Linux say error 2 and check a restore's target with 3634.
. "${BASH_SOURCE%/*}/conformance_lib.sh"

q() { run_tsql "$1" 7.4 "$2"; }
none="$work/none/sub"

for version in 2000 2008 2019; do
    start "v$version" "$version"
    p=$port
    d="$work/v$version/data"
    case $version in
    2000) create=("Msg 5105 (severity 16, state 2)" "Device activation error. The physical file name '$none/c.mdf' may be incorrect."
                  "Msg 1802 (severity 11, state 1)" "CREATE DATABASE failed. Some file names listed could not be created. Check previous errors.")
          attach=("Msg 5105" "Device activation error. The physical file name '$none/a.mdf' may be incorrect." "Msg 1813")
          restore=("Msg 5105 (severity 16, state 2)" "Msg 3156 (severity 16, state 3)" "Msg 3013") ;;
    2008) create=("Msg 5133 (severity 16, state 1)" "Directory lookup for the file \"$none/c.mdf\" failed with the operating system error 3(The system cannot find the path specified.)."
                  "Msg 1802 (severity 16, state 1)" "CREATE DATABASE failed. Some file names listed could not be created. Check related errors.")
          attach=("Msg 5120 (severity 16, state 101)" "Unable to open the physical file \"$none/a.mdf\". Operating system error 3: \"3(The system cannot find the path specified.)\"." "Msg 1802 (severity 16, state 7)")
          restore=("Msg 5133 (severity 16, state 1)" "Directory lookup for the file \"$none/r.mdf\" failed with the operating system error 3(The system cannot find the path specified.)."
                   "Msg 3156 (severity 16, state 3)" "Msg 3119" "Msg 3013") ;;
    2019) create=("Msg 5133 (severity 16, state 1)" "Directory lookup for the file \"$none/c.mdf\" failed with the operating system error 2(The system cannot find the file specified.)."
                  "Msg 1802 (severity 16, state 1)")
          attach=("Msg 5120 (severity 16, state 101)" "Operating system error 2: \"2(The system cannot find the file specified.)\"." "Msg 1802 (severity 16, state 7)")
          restore=("Msg 3634" "The operating system returned the error '2(The system cannot find the file specified.)' while attempting 'RestoreContainer::ValidateTargetForCreation' on '$none/r.mdf'."
                   "Msg 3156 (severity 16, state 5)" "Msg 3119" "Msg 3013") ;;
    esac
    out=$(q "$p" "CREATE DATABASE C ON (NAME = c, FILENAME = N'$none/c.mdf') LOG ON (NAME = c_log, FILENAME = N'$d/c.ldf')")
    check "$version create into a missing folder" "$out" "${create[@]}"
    absent "$version create: not a file error" "$out" "Msg 5123"
    holds "$version create: the log is not left behind" test ! -e "$d/c.ldf"
    check "$version attach from a missing folder" "$(q "$p" "CREATE DATABASE A ON (FILENAME = N'$none/a.mdf') LOG ON (FILENAME = N'$none/a.ldf') FOR ATTACH")" "${attach[@]}"
    q "$p" "CREATE DATABASE R
BACKUP DATABASE R TO DISK = N'$d/r.bak'" >/dev/null
    out=$(q "$p" "RESTORE DATABASE R2 FROM DISK = N'$d/r.bak' WITH MOVE N'R' TO N'$none/r.mdf', MOVE N'R_log' TO N'$d/r2.ldf'")
    check "$version restore into a missing folder" "$out" "${restore[@]}"
    absent "$version restore: nothing restored" "$out" "successfully processed"
done

finish
