#!/usr/bin/env bash
# Runs each fuzz_* in <bindir> for FUZZ_SECONDS (default 10) from its seeds in fuzz/corpus/<name>/
# and prints its inputs and rate (inputs/s). A crash, leak or sanitizer report fails the run.
set -euo pipefail
bindir=${1:?usage: fuzz/run-all.sh <bindir>}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0 found=0
for bin in "$bindir"/fuzz_*; do
    [ -x "$bin" ] || continue
    name=${bin##*/fuzz_} found=1 out=$work/${bin##*/fuzz_}
    mkdir -p "$out/new" "$out/crash"
    echo "== fuzz_$name: ${FUZZ_SECONDS:-10}s"
    # New inputs go to a scratch corpus; the committed seeds are only read.
    if "$bin" -max_total_time="${FUZZ_SECONDS:-10}" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$out/crash/" "$out/new" "$here/corpus/$name" \
        >"$out/log" 2>&1; then
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$out/log" || true
    else
        tail -n 60 "$out/log" >&2
        for a in "$out/crash"/*; do od -An -tx1 "$a" | head -n 20 >&2; done
        echo "fuzz_$name FAILED" >&2 && status=1
    fi
done
[ $found = 1 ] || { echo "fuzz/run-all.sh: no fuzz_* programs in $bindir" >&2; exit 1; }
exit $status
