#!/bin/sh
# No file of the window composes T-SQL: statements are made in the operations layer
# (app/operations/) and the database layer (db/), where the plan that shows them is the one that
# sends them. The files below have not moved their statements there yet; the list only shrinks, and
# a file on it that no longer composes T-SQL must be taken off it.
set -u
app=${1:?usage: no_tsql_in_window.sh APP_FOLDER}
not_yet_moved="BackupVerification.cpp
ServerFileDialog.cpp ServerFileTimes.cpp ServerFiles.cpp ServerState.cpp"
# A string literal holding a statement's keyword, on a line that is not a comment.
keywords='"[^"]*\b(SELECT|INSERT INTO|UPDATE|DELETE FROM|ALTER DATABASE|DROP DATABASE|CREATE DATABASE|EXEC|RESTORE|BACKUP|USE|DBCC|FOR ATTACH|sp_[a-z_]+|xp_[a-z_]+|sys\.[a-z_]+|master\.dbo)\b'
composing() {
    grep -nE "$keywords" "$1" | grep -vE '^[0-9]+:[[:space:]]*//'
}
status=0
for file in "$app"/*.cpp "$app"/*.h; do
    name=$(basename "$file")
    listed=no
    for allowed in $not_yet_moved; do
        [ "$name" = "$allowed" ] && listed=yes
    done
    found=$(composing "$file")
    if [ "$listed" = no ] && [ -n "$found" ]; then
        echo "$name composes T-SQL; move it to app/operations/:"
        echo "$found"
        status=1
    elif [ "$listed" = yes ] && [ -z "$found" ]; then
        echo "$name no longer composes T-SQL: take it off the list in $0"
        status=1
    fi
done
exit $status
