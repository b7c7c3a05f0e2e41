#!/usr/bin/env bash
# Runs a validator (desktop-file-validate, appstreamcli validate) and passes only when it succeeds
# and reports nothing: no error, warning, hint, info or pedantic note. appstreamcli's closing
# "Validation was successful" line without counts is not a report.
set -uo pipefail
output=$("$@" 2>&1)
status=$?
findings=$(grep -v -E '^$|^✔ Validation was successful\.$' <<<"$output")
if [ $status -ne 0 ] || [ -n "$findings" ]; then
    echo "FAIL: $* (exit $status):"
    echo "$output"
    exit 1
fi
echo "$* reports nothing"
