#!/usr/bin/env bash
# The refusal log of the whole suite (see the end of tests/CMakeLists.txt):
#   conformance_refusals.sh reset DIR           empties DIR before the first test
#   conformance_refusals.sh check DIR ASKED     fails listing every refusal ASKED does not allow
# ASKED has one line per refusal a test asks for: the test's name, the error number and a piece of
# the statement that must be in the refused batch (the rest of the line, taken as it stands).
set -u
mode=${1:?reset or check}
dir=${2:?folder of the refusal files}
if [ "$mode" = reset ]; then
    rm -rf "$dir" && mkdir -p "$dir"
    exit
fi
asked=${3:?the list of asked-for refusals}
unasked=0
for log in "$dir"/*.log; do
    [ -e "$log" ] || continue
    test=$(basename "$log" .log)
    while IFS=$'\t' read -r number message batch; do
        allowed=0
        while read -r who num piece; do
            [ "$who" = "$test" ] && [ "$num" = "$number" ] && [[ "$batch" == *"$piece"* ]] && { allowed=1; break; }
        done < <(grep -v '^#' "$asked" | grep -v '^[[:space:]]*$')
        if [ "$allowed" = 0 ]; then
            unasked=$((unasked + 1))
            echo "$test: Msg $number: $message"
            echo "    in: ${batch:0:400}"
        fi
    done <"$log"
done
echo "$unasked refusal(s) no test asked for"
[ "$unasked" -eq 0 ]
