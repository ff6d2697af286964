#!/usr/bin/env bash
# Runs each fuzz_* in <bindir> for FUZZ_SECONDS (default 10) from fuzz/corpus/<name>/, printing its
# inputs and rate (inputs/s). A crash, leak, sanitizer report or no fuzzer fails the run.
set -euo pipefail
bindir=${1:?usage: fuzz/run-all.sh <bindir>}
corpus=$(cd "$(dirname "$0")" && pwd)/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for bin in "$bindir"/fuzz_*; do
    name=${bin##*/fuzz_} out=$work/${bin##*/fuzz_}
    mkdir -p "$out"  # new inputs go here; the committed seeds are only read
    echo "== fuzz_$name: ${FUZZ_SECONDS:-10}s"
    if "$bin" -max_total_time="${FUZZ_SECONDS:-10}" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$out/crash-" "$out" "$corpus/$name" >"$out.log" 2>&1; then
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$out.log" || true
    else
        tail -n 60 "$out.log" >&2
        od -An -tx1 "$out"/crash-* 2>/dev/null | head -n 20 >&2 || true
        echo "fuzz_$name FAILED" >&2 && status=1
    fi
done
exit $status
