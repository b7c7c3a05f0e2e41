# The conformance scripts' shared part, sourced with the script's arguments ($1: zelvaro-devserver):
# a scratch folder, stand-ins started on free ports, the clients, and the tally of checks.
set -u
server=${1:?path to zelvaro-devserver}
work=$(mktemp -d)
passed=0
failed=0
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT

start() { # start NAME VERSION [ARGS...] -> sets port
    mkdir -p "$work/$1"
    # A server started again under the same name must not be found by the last one's line: the
    # shell truncates the file only once the new process runs, after the wait below has begun.
    rm -f "$work/$1/out"
    "$server" --port 0 --browser-port 0 --version "$2" --data-dir "$work/$1/data" "${@:3}" >"$work/$1/out" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do grep -qs listening "$work/$1/out" && break; sleep 0.1; done
    port=$(grep -s -m1 -o ':[0-9]*' "$work/$1/out" | tr -d :)
}
run_tsql() { # run_tsql PORT TDSVER BATCH
    printf '%s\ngo\nquit\n' "$3" | TDSVER=$2 timeout 60 tsql -H 127.0.0.1 -p "$1" -U sa -P pvtmo 2>&1
}
run_isql() { # run_isql PORT TDSVER BATCH: in batch mode, the batch sent as it is
    printf '%s\n' "$3" | timeout 60 isql -k "Driver=FreeTDS;Server=127.0.0.1;Port=$1;TDS_Version=$2;UID=sa;PWD=pvtmo;ClientCharset=UTF-8" -b -e -v 2>&1
}
pass() { passed=$((passed + 1)); }
fail() { # fail LABEL [OUTPUT]
    failed=$((failed + 1))
    echo "FAIL: $1"
    [ -n "${2:-}" ] && sed 's/^/    /' <<<"$2" | head -20
    return 0
}
check() { # check LABEL OUTPUT EXPECTED...
    local label=$1 output=$2
    shift 2
    for expected in "$@"; do
        grep -qF -- "$expected" <<<"$output" && pass || fail "$label: expected «$expected» in:" "$output"
    done
}
absent() { # absent LABEL OUTPUT UNEXPECTED...
    local label=$1 output=$2
    shift 2
    for unexpected in "$@"; do
        grep -qF -- "$unexpected" <<<"$output" && fail "$label: did not expect «$unexpected» in:" "$output" || pass
    done
}
holds() { # holds LABEL CONDITION...
    local label=$1
    shift
    "$@" && pass || fail "$label"
}
finish() { # the tally; fails the script when any check failed
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
