#!/usr/bin/env bash
# End-to-end timings of kwsnmpd (by default with the simulated panel), measured the way a manager sees them:
# the wall time of Net-SNMP's snmpget/snmpset for one request (process start included; the
# system-group row shows that floor), the time of a full walk of the display MIB, and the
# resident memory of kwsnmpd before and after.
#
# usage: bench/e2e-latency.sh [BUILD_DIR [REPEATS [KWSNMPD OPTIONS...]]]   (defaults: build 20)
#   e.g. bench/e2e-latency.sh build 20 --panel tcp:127.0.0.1:5000   (with kwpanel-sim there)
set -euo pipefail

build=${1:-build}
repeats=${2:-20}
shift $(($# < 2 ? $# : 2))
kwsnmpd="$build/bin/kwsnmpd"
[ -x "$kwsnmpd" ] || { echo "e2e-latency: $kwsnmpd is not built (make build)" >&2; exit 1; }

port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
target="127.0.0.1:$port"
log=$(mktemp)
"$kwsnmpd" --listen "udp:$target" "$@" 2>"$log" &
pid=$!
cleanup() { kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -f "$log"; }
trap cleanup EXIT
for _ in $(seq 100); do
    grep -q "listening on" "$log" && break
    kill -0 "$pid" 2>/dev/null || { cat "$log" >&2; exit 1; }
    sleep 0.05
done
grep -q "listening on" "$log" || { echo "e2e-latency: kwsnmpd did not start" >&2; exit 1; }

base=1.3.6.1.4.1.32473.1.1.1
now_ms() { date +%s%N | awk '{ printf "%.3f", $1 / 1e6 }'; }

# time_requests LABEL PAUSE COMMAND...: runs the command `repeats` times, prints statistics.
time_requests() {
    local label=$1 pause=$2
    shift 2
    local samples=()
    for i in $(seq "$repeats"); do
        local start end
        start=$(now_ms)
        "$@" "$i" >/dev/null
        end=$(now_ms)
        samples+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')")
    done
    printf '%s\n' "${samples[@]}" | sort -n | awk -v label="$label" -v pause="$pause" '
        { v[NR] = $1; sum += $1 }
        END { printf "%-34s %8s %8.1f %8.1f %8.1f %8.1f\n", label, pause, v[1], v[int((NR + 1) / 2)], sum / NR, v[NR] }'
}

get_row()  { snmpget -v2c -c public -t 15 -r 0 -Oqv "$target" "$base.$1.0"; }
set_row()  { snmpset -v2c -c private -t 15 -r 0 -Oqv "$target" "$base.$1.0" s "$2"; }
get_sys()  { snmpget -v2c -c public -t 5 -r 0 -Oqv "$target" 1.3.6.1.2.1.1.3.0; }
get_power()   { get_row 4; }
get_volume()  { get_row 40; }
set_volume()  { set_row 40 "$(printf '%02X' $((10 + $1 % 50)))"; }        # 0x12: 200 ms
set_pmode()   { set_row 14 "$(printf '%02X' $(($1 % 6)))"; }               # 0x71: 400 ms
set_timer()   { set_row 52 "09 1E 00 01 05 2D 01 01 02 3E 03 41 14 18 0$(($1 % 4))"; }

echo "$(head -1 "$log" | sed 's/^kwsnmpd: //'); $repeats requests each (ms)"
printf '%-34s %8s %8s %8s %8s %8s\n' request pause min median mean max
time_requests "get sysUpTime (no panel)" "-" get_sys
time_requests "get power (0x11)" 100 get_power
time_requests "get volume (0x12)" 100 get_volume
time_requests "set volume (0x12)" 200 set_volume
time_requests "set picture mode (0x71)" 400 set_pmode
time_requests "set timer 2, 15 bytes (0xA5)" 200 set_timer

rss() { awk '/^VmRSS/ { print $2 " kB" }' "/proc/$pid/status"; }
hwm() { awk '/^VmHWM/ { print $2 " kB" }' "/proc/$pid/status"; }
rss_before=$(rss)

start=$(now_ms)
objects=$(snmpwalk -v2c -c public -t 15 -r 0 -On "$target" 1.3.6.1.4.1.32473.1 | wc -l)
end=$(now_ms)
awk -v a="$start" -v b="$end" -v n="$objects" \
    'BEGIN { printf "full walk of the display MIB: %d objects in %.2f s (%.0f ms each)\n", n, (b - a) / 1000, (b - a) / n }'

echo "kwsnmpd resident memory: $rss_before after start-up, $(rss) after the walk (peak $(hwm))"
