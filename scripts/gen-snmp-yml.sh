#!/usr/bin/env bash
# Writes monitoring/snmp.yml from monitoring/generator.yml and the display MIB with Debian's
# prometheus-snmp-generator. With --check, fails instead when the committed file differs.
# The base SMI modules come from the npm package net-snmp (package.json), as for mib-lint.sh;
# only the three the display MIB imports are offered, so that any parse error fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
base="$root/node_modules/net-snmp/lib/mibs"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/mibs"
for mib in SNMPv2-SMI SNMPv2-TC SNMPv2-CONF; do
    cp "$base/$mib.mib" "$work/mibs/"
done
cp "$root/mibs/KW-DISPLAY-MIB.txt" "$work/mibs/"
cp "$root/monitoring/generator.yml" "$work/"
(cd "$work" && MIBDIRS="$work/mibs" prometheus-snmp-generator --fail-on-parse-errors \
    --log.level=warn generate -o snmp.yml)
if [ "${1:-}" = "--check" ]; then
    if ! diff -u "$root/monitoring/snmp.yml" "$work/snmp.yml"; then
        echo "gen-snmp-yml: monitoring/snmp.yml is out of date; run scripts/gen-snmp-yml.sh" >&2
        exit 1
    fi
else
    cp "$work/snmp.yml" "$root/monitoring/snmp.yml"
    echo "gen-snmp-yml: wrote monitoring/snmp.yml"
fi
