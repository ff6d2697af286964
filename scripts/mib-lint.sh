#!/usr/bin/env bash
# Lints the project's MIB modules with smilint at level 6; any message fails. Debian ships no
# base SMI modules, so they come from the npm package net-snmp (package.json).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
base="$root/node_modules/net-snmp/lib/mibs"
if [ ! -f "$base/SNMPv2-SMI.mib" ]; then
    echo "mib-lint: $base/SNMPv2-SMI.mib is missing; run npm ci" >&2
    exit 1
fi
export SMIPATH="$base:$root/mibs"
export MIBDIRS="$SMIPATH"
status=0
for mib in "$root"/mibs/*.txt; do
    out="$(smilint -l 6 -s "$mib" 2>&1)" || true
    if [ -n "$out" ]; then
        echo "$out"
        status=1
    else
        echo "mib-lint: $(basename "$mib") clean"
    fi
done
exit $status
