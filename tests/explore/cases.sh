#!/usr/bin/env bash
# Replays every committed explorer case (tests/explore/cases/*.steps) on the 2000 and the 2019
# personality with every invariant; each is a fault the explorer once found, so each must now pass.
# A case whose fault lay in no version's own statements names the one it replays on in a line
# "# versions: 2019". Replays mostly wait on paced stand-ins, so two run at a time
# (ZELVARO_EXPLORE_CASE_JOBS sets how many).
set -u
explore=${1:?path to tst_explore}
cases=${2:?folder of .steps files}
jobs=${ZELVARO_EXPLORE_CASE_JOBS:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

replay() { # steps version world folder
    mkdir -p "$4"
    (cd "$4" && ZELVARO_EXPLORE_REPLAY="$1" ZELVARO_EXPLORE_VERSION=$2 ZELVARO_EXPLORE_SHRINK=0 \
        ZELVARO_EXPLORE_WORLD=$3 "$explore" >out 2>&1)
    echo $? >"$4/rc"
}

names=()
n=0
for steps in "$cases"/*.steps; do
    # A case names the world it needs in a line "# world: nobody" (default: plain); server A as
    # nobody needs root and the account.
    world=$(sed -n 's/^# world: //p' "$steps" | head -1)
    world=${world:-plain}
    if [ "$world" = nobody ] && { [ "$(id -u)" -ne 0 ] || ! id nobody >/dev/null 2>&1; }; then
        echo "SKIP $(basename "$steps" .steps): server A as nobody needs root"
        continue
    fi
    versions=$(sed -n 's/^# versions: //p' "$steps" | head -1)
    for version in ${versions:-2000 2019}; do
        while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
        n=$((n + 1))
        names[n]="$(basename "$steps" .steps) on $version ($world)"
        replay "$steps" "$version" "$world" "$work/$n" &
    done
done
wait
failed=0
for i in $(seq 1 "$n"); do
    if [ "$(cat "$work/$i/rc" 2>/dev/null)" = 0 ]; then
        echo "PASS ${names[i]}: $(grep 'violations' "$work/$i/out" | tail -1)"
    else
        echo "FAIL ${names[i]}:"
        grep '^explore:' "$work/$i/out" | grep -v '^explore: [0-9]*\. '
        failed=$((failed + 1))
    fi
done
echo "explore cases: $failed failed"
[ "$failed" -eq 0 ]
