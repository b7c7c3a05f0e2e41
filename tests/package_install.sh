#!/usr/bin/env bash
# Installs the three packages on this machine with apt-get, starts the installed zelvaro-devserver
# and the installed zelvaro (off screen, Connect pressed by the plugin in ConnectDriver.cpp), checks
# that Zelvaro connected, that the server saw its statements and that nothing was written to the
# home folder; backs the stand-in's database up with the installed zelvaro-backup; then purges all
# three and checks by listing that every file they brought is gone.
# Needs root; the packages are purged again however the test ends.
#   package_install.sh DEB_DIR PLUGIN_DIR
set -uo pipefail
dir=$1 plugins=$2
packages=(zelvaro zelvaro-backup zelvaro-devserver)
# Marks packages this test installed, so that a run cut off before it could purge them is cleaned
# up by the next one, while a Zelvaro installed by the machine's owner is never touched.
marker=$dir/installed-by-test
apt=(env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=300)

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing packages needs root"
    exit 77
fi
installed() { dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q ' installed$'; }
known() { dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -qv ' not-installed$'; }
for p in "${packages[@]}"; do
    if installed "$p" && [ ! -f "$marker" ]; then
        echo "SKIP: $p is installed on this machine already; purge it to run this test"
        exit 77
    fi
done

work=$(mktemp -d)
server_pid=""
purge() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    local present=()
    for p in "${packages[@]}"; do
        known "$p" && present+=("$p")
    done
    [ ${#present[@]} -eq 0 ] || "${apt[@]}" purge "${present[@]}" >"$work/purge.log" 2>&1 || cat "$work/purge.log"
    rm -f "$marker"
}
trap 'purge; rm -rf "$work"' EXIT
purge

failed=0
fail() { echo "FAIL: $*"; failed=1; }

zelvaro_deb=$(ls "$dir"/zelvaro_*.deb)
devserver_deb=$(ls "$dir"/zelvaro-devserver_*.deb)
backup_deb=$(ls "$dir"/zelvaro-backup_*.deb)
# What the packages bring, and which of their folders the machine has before they come.
for deb in "$zelvaro_deb" "$backup_deb" "$devserver_deb"; do dpkg-deb -c "$deb"; done | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep . | sort -u >"$work/paths"
while read -r path; do
    [ -d "$path" ] && echo "$path"
done <"$work/paths" >"$work/folders-before"

touch "$marker"
if ! "${apt[@]}" install "$zelvaro_deb" "$backup_deb" "$devserver_deb" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    exit 1
fi
grep -q '^\[FreeTDS\]' /etc/odbcinst.ini || fail "the FreeTDS driver is not registered in /etc/odbcinst.ini"

# Both programs as a user starts them: from /usr/bin, with an empty home folder. The driver
# connects and opens the database list, whose query the server logs.
home=$work/home
mkdir -p "$home"
/usr/bin/zelvaro-devserver --port 0 --browser-port 0 --version 2000 --data-dir "$work/data" \
    --log-statements "$work/statements" >"$work/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 50); do grep -q listening "$work/server.out" 2>/dev/null && break; sleep 0.1; done
port=$(grep -m1 -o ':[0-9]*' "$work/server.out" | tr -d :)
[ -n "$port" ] || { cat "$work/server.out"; exit 1; }

env -u XDG_CONFIG_HOME -u XDG_CACHE_HOME -u XDG_DATA_HOME HOME="$home" QT_QPA_PLATFORM=offscreen \
    QT_PLUGIN_PATH="$plugins" QT_QPA_GENERIC_PLUGINS=zelvaro-connect ZELVARO_CONNECT_TO="127.0.0.1,$port" \
    timeout 60 /usr/bin/zelvaro >"$work/zelvaro.out" 2>&1
status=$?
cat "$work/zelvaro.out"
[ $status -eq 0 ] || fail "zelvaro ended with $status"
grep -qx "zelvaro-connect: connected 127.0.0.1,$port" "$work/zelvaro.out" || fail "zelvaro did not connect"
grep -qF "Підключення успішно виконано !" "$work/zelvaro.out" || fail "zelvaro did not report the connection"
grep -q -i sysdatabases "$work/statements" 2>/dev/null || fail "the server logged no database list query"
left=$(find "$home" -mindepth 1)
[ -z "$left" ] || fail "written into the home folder: $left"

# The installed backup command against the installed stand-in: every user database, verified.
printf 'CREATE DATABASE [Ledger]\ngo\nquit\n' | TDSVER=7.1 tsql -H 127.0.0.1 -p "$port" -U sa -P pvtmo >/dev/null 2>&1
mkdir -p "$work/backups"
(umask 077; printf 'pvtmo\n' >"$work/password")
/usr/bin/zelvaro-backup --server "127.0.0.1,$port" --version 2000 --password-file "$work/password" \
    --to "$work/backups" --keep 2 >"$work/backup.out" 2>&1
status=$?
cat "$work/backup.out"
[ $status -eq 0 ] || fail "zelvaro-backup ended with $status"
ls "$work/backups" | grep -q '^Ledger_.*\.bak$' || fail "zelvaro-backup wrote no backup of Ledger"
grep -q 'Ledger: .*перевірено' "$work/backup.out" || fail "zelvaro-backup did not report Ledger verified"

kill "$server_pid" 2>/dev/null
wait "$server_pid" 2>/dev/null
server_pid=""
"${apt[@]}" purge "${packages[@]}" >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "purge failed"; }
rm -f "$marker"
while read -r path; do
    [ -e "$path" ] || continue
    if [ -d "$path" ]; then
        grep -qxF -- "$path" "$work/folders-before" || fail "folder left behind: $path"
    else
        fail "file left behind: $path"
    fi
done <"$work/paths"
for p in "${packages[@]}"; do
    known "$p" && fail "dpkg still knows $p: $(dpkg-query -W -f='${Status}' "$p")"
done

[ $failed -eq 0 ] && echo "installed, connected, removed without a trace"
exit $failed
