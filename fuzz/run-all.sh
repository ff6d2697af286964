#!/usr/bin/env bash
# Runs every fuzz_* program in <bindir> for a bounded time from its seed corpus
# (fuzz/corpus/<name>/). Any crash, leak or sanitizer report fails the run.
# FUZZ_SECONDS overrides the time per fuzzer (default 10). Each fuzzer's inputs and rate
# (inputs/s) are printed.
set -euo pipefail

bindir=${1:?usage: fuzz/run-all.sh <bindir>}
seconds=${FUZZ_SECONDS:-10}
here=$(cd "$(dirname "$0")" && pwd)

shopt -s nullglob
fuzzers=("$bindir"/fuzz_*)
if [ ${#fuzzers[@]} -eq 0 ]; then
    echo "fuzz/run-all.sh: no fuzz_* programs in $bindir" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
for bin in "${fuzzers[@]}"; do
    [ -x "$bin" ] || continue
    name=$(basename "$bin")
    name=${name#fuzz_}
    seeds=$here/corpus/$name
    # New inputs go to a scratch corpus; the committed seeds are only read.
    mkdir -p "$work/$name/corpus" "$work/$name/artifacts"
    args=("$work/$name/corpus")
    [ -d "$seeds" ] && args+=("$seeds")
    echo "== fuzz_$name: ${seconds}s"
    if ! "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/$name/artifacts/" "${args[@]}" \
        >"$work/$name/log" 2>&1; then
        echo "fuzz_$name FAILED:" >&2
        tail -n 60 "$work/$name/log" >&2
        for a in "$work/$name/artifacts"/*; do
            echo "crashing input ($a):" >&2
            od -An -tx1 "$a" | head -n 20 >&2
        done
        status=1
    else
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$work/$name/log" || true
    fi
done
exit $status
