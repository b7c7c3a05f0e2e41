#!/usr/bin/env bash
# lintian on both packages: no error, and no warning but the ones docs/packaging.md
# names and justifies (listed here, so that a new one fails until it is looked at).
#   package_lintian.sh DEB_DIR
set -uo pipefail
dir=$1
justified=(
)
suppress=()
[ ${#justified[@]} -gt 0 ] && suppress=(--suppress-tags "$(IFS=,; echo "${justified[*]}")")
lintian --fail-on error,warning "${suppress[@]}" "$dir"/zelvaro_*.deb "$dir"/zelvaro-devserver_*.deb
status=$?
[ $status -eq 0 ] && echo "lintian: no errors, no unexplained warnings"
exit $status
