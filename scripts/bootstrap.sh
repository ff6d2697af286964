#!/usr/bin/env bash
# Installs what kwsnmp needs on Debian 12: the packages in scripts/debian-packages.txt and the
# npm manifest's modules. Idempotent; `--check` only reports whether anything is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t packages < <(grep -v -e '^#' -e '^[[:space:]]*$' scripts/debian-packages.txt)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
# Node.js and npm: the machine's own when it has them (they may not come from Debian),
# Debian's otherwise.
if ! command -v npm >/dev/null 2>&1; then
    missing+=(nodejs npm)
fi
stamp=node_modules/.kwsnmp-installed
npm_missing=0
[ -f "$stamp" ] && [ "$stamp" -nt package-lock.json ] || npm_missing=1

if [ "${1:-}" = "--check" ]; then
    [ ${#missing[@]} -eq 0 ] && [ $npm_missing -eq 0 ]
    exit
fi

if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "bootstrap: missing Debian packages: ${missing[*]}" >&2
        echo "bootstrap: run as root:  apt-get update && apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    echo "bootstrap: installing ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

if [ $npm_missing -eq 1 ]; then
    echo "bootstrap: installing npm modules"
    npm ci --no-audit --no-fund --loglevel=error
    touch "$stamp"
fi
