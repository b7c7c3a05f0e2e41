#!/usr/bin/env bash
# Replays every committed explorer case (tests/explore/cases/*.steps) on the 2000 and the 2019
# personality with every invariant; each is a fault the explorer once found, so each must now pass.
set -u
explore=${1:?path to tst_explore}
cases=${2:?folder of .steps files}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for steps in "$cases"/*.steps; do
    # A case names the world it needs in a line "# world: nobody" (default: plain); server A as
    # nobody needs root and the account.
    world=$(sed -n 's/^# world: //p' "$steps" | head -1)
    world=${world:-plain}
    if [ "$world" = nobody ] && { [ "$(id -u)" -ne 0 ] || ! id nobody >/dev/null 2>&1; }; then
        echo "SKIP $(basename "$steps" .steps): server A as nobody needs root"
        continue
    fi
    for version in 2000 2019; do
        name="$(basename "$steps" .steps) on $version ($world)"
        if (cd "$work" && ZELVARO_EXPLORE_REPLAY="$steps" ZELVARO_EXPLORE_VERSION=$version ZELVARO_EXPLORE_SHRINK=0 \
                ZELVARO_EXPLORE_WORLD=$world "$explore" >"$work/out" 2>&1); then
            echo "PASS $name: $(grep 'violations' "$work/out" | tail -1)"
        else
            echo "FAIL $name:"
            grep '^explore:' "$work/out" | grep -v '^explore: [0-9]*\. '
            failed=$((failed + 1))
        fi
    done
done
echo "explore cases: $failed failed"
[ "$failed" -eq 0 ]
