#!/usr/bin/env bash
# systemd-analyze verify on zelvaro-backup's template units, as an instance of each (a template
# alone is not loaded), with the command they start pointed at the one just built. Then what the
# schedule promises: a catch-up after boot, the password as a credential, a read-only system.
#   backup_units.sh BINARY PACKAGING_DIR
set -uo pipefail
binary=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

for kind in service timer; do
    sed "s|/usr/bin/zelvaro-backup|$binary|" "$source/zelvaro-backup@.$kind" >"$work/zelvaro-backup@.$kind"
    ln -s "zelvaro-backup@.$kind" "$work/zelvaro-backup@nightly.$kind"
done
if ! out=$(systemd-analyze verify --man=no "$work/zelvaro-backup@nightly.service" \
        "$work/zelvaro-backup@nightly.timer" 2>&1) || [ -n "$out" ]; then
    fail "systemd-analyze verify: $out"
fi
has() { grep -qx -- "$2" "$source/zelvaro-backup@.$1" || fail "zelvaro-backup@.$1 lacks $2"; }
has timer "Persistent=true"
has service "ExecStart=/usr/bin/zelvaro-backup --config /etc/zelvaro-backup/%i.conf"
has service "LoadCredential=password:/etc/zelvaro-backup/%i.password"
has service "TimeoutStartSec=20h"
has service "NoNewPrivileges=yes"
has service "ProtectSystem=strict"
has service "ProtectHome=yes"
[ $failed -eq 0 ] && echo "units verified"
exit $failed
