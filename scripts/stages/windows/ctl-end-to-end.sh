#!/usr/bin/env bash
# Reads and writes through the Win32 serial code of v38ctl.exe under Wine against the
# lock simulator: Wine's registry maps COM1 to a link that each simulator in turn points
# at its pseudo-terminal. Needs WINEPREFIX set.
#   scripts/stages/windows/ctl-end-to-end.sh path/to/v38ctl.exe
set -euo pipefail
# A step that fails outside a check ends the script: say which.
trap 'echo "ctl-end-to-end.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR
ctl=$(realpath "$1")
cd "$(dirname "$0")/../../.."
source scripts/lib/checks.sh
source scripts/lib/sim.sh
source scripts/lib/wine.sh
sim_built

work=$(mktemp -d /tmp/v38-wine-XXXXXX)
link=$work/com1
ports_pid=
cleanup() {
    sim_stop
    [ -z "$ports_pid" ] || kill "$ports_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# start_simulator [simulator options...]: a simulator keeping the lock's image in
# $work/lock.bin, reachable as COM1.
start_simulator() { sim_start "$work" --link "$link" --log "$@"; }
# A configuration file of random bytes.
make_file() { scripts/lib/v38check.py random-config "$1" "$2"; }

ctl() { # ctl OUTPUT_PREFIX ARGS...: runs v38ctl.exe, keeps its exit status and stderr
    local prefix=$1 try
    shift
    set +e
    for try in 1 2; do
        wine "$ctl" "$@" >"$work/$prefix.out" 2>"$work/$prefix.err"
        echo $? >"$work/$prefix.status"
        # Wine's server now and then drops a client that starts while it is shutting
        # down: v38ctl never ran. It gets one more start, as the tests under Wine do.
        grep -q '^wine client error:.*Connection reset by peer' "$work/$prefix.err" || break
        echo "       (Wine dropped v38ctl $1 as it started; started again)"
    done
    set -e
}
status() { cat "$work/$1.status"; }
# show PREFIX: what v38ctl said, shown under a failed check with its trace.
show() {
    echo "       v38ctl said (status $(status "$1")):"
    sed 's/^/         err: /' "$work/$1.err" | tr -d '\r'
}
said() { grep -qF "$2" "$work/$1.err"; }

# round_trip NAME SEED WHAT [SIMULATOR OPTIONS...]: a file of random bytes written to
# the lock and read back, WHAT saying under which conditions. The read has a simulator of
# its own: a write's read-back would otherwise have met the faults meant for the read.
round_trip() {
    local name=$1 seed=$2 what=$3
    shift 3
    make_file "$work/$name.bin" "$seed"
    start_simulator "$@"
    ctl "write-$name" write "$(winpath "$work/$name.bin")"
    check "a write$what succeeds" test "$(status "write-$name")" = 0
    [ "$(status "write-$name")" = 0 ] || show "write-$name"
    check "the lock holds exactly the written file" cmp -s "$work/$name.bin" "$work/lock.bin"
    start_simulator "$@"
    ctl "read-$name" read "$(winpath "$work/$name-back.bin")"
    check "a read$what succeeds" test "$(status "read-$name")" = 0
    [ "$(status "read-$name")" = 0 ] || show "read-$name"
    check "the read gives back exactly the file" cmp -s "$work/$name.bin" "$work/$name-back.bin"
}

wine_map_port COM1 "$link"
wine_restart

echo "wine end-to-end: v38ctl.exe over the Win32 serial code, COM1 -> simulator"
rm -f "$work/lock.bin"
round_trip a 1 ""
# Faults that the retries overcome: NAK to a probe, damaged, cut and missing replies.
round_trip b 2 " with faults the retries overcome" --fault nak@M --fault crc:2@K2 \
    --fault truncate@K4 --fault silence@S --fault length@C1 --fault nak:2@C3 \
    --fault truncate@C6 --fault silence@C7

# Faults that end a transfer: nothing half-done is left anywhere.
make_file "$work/c.bin" 3
start_simulator --fault nak@K5
ctl write-c write "$(winpath "$work/c.bin")"
check "a write refused in block 5 fails (status 4)" test "$(status write-c)" = 4
check "with \"Błąd komunikacji z Zamkiem.\"" said write-c "Błąd komunikacji z Zamkiem."
check "and the lock keeps what it held" cmp -s "$work/b.bin" "$work/lock.bin"
start_simulator --fault silence:3@C2
cp "$work/a.bin" "$work/kept.bin"
ctl read-c read "$(winpath "$work/kept.bin")"
check "a read whose block 2 never comes fails (status 4)" test "$(status read-c)" = 4
check "with \"Błąd komunikacji z Zamkiem.\"" said read-c "Błąd komunikacji z Zamkiem."
check "and the file it would have written is kept" cmp -s "$work/a.bin" "$work/kept.bin"
sim_stop
rm -f "$link"
ctl probe-none probe
check "without a lock the probe fails (status 3)" test "$(status probe-none)" = 3
check "with \"Brak połączenia z Zamkiem.\"" said probe-none "Brak połączenia z Zamkiem."

# v38ctl ports through the Win32 code: COM1 the simulator, COM2 a pseudo-terminal that
# never answers, COM3 a path with nothing behind it, COM20 a port beyond the search.
echo "wine end-to-end: v38ctl.exe ports"
scripts/lib/v38check.py silent-ports "$work/silent" "$work/far" &
ports_pid=$!
wine_map_port COM2 "$work/silent"
wine_map_port COM3 "$work/missing"
wine_map_port COM20 "$work/far"
wine_restart
start_simulator
ctl ports ports
# The console's text mode ends lines with CR LF.
tr -d '\r' <"$work/ports.out" >"$work/ports.txt"
line() { grep -F "$1" "$work/ports.txt" | head -1; }
check "ports: exit status 0 with a lock" test "$(status ports)" = 0
check "ports: COM1 the lock's answer" \
    grep -qF 'COM1  \\.\COM1: the lock answers: 00 08 00 E8 ' "$work/ports.txt"
check "ports: COM2 silent, with the wiring hint" \
    test "$(line 'COM2  ')" = 'COM2  \\.\COM2: opens, but nothing answers the probe: check the RS485 pair (A and B swapped?) and the lock'"'"'s power'
check "ports: COM3 absent" test "$(line 'COM3  ')" = 'COM3  \\.\COM3: absent'
check "ports: COM5 without a device absent" test "$(line 'COM5  ')" = 'COM5  (no device): absent'
check "ports: COM20 listed as never searched" test "$(line 'COM20')" = '  \\.\COM20: COM20'
check "ports: the summary names COM1" grep -qxF 'The lock answers on COM1.' "$work/ports.txt"
# --port: the search is held to that port; a transfer leaves a lock on another alone.
ctl probe-com2 probe --port COM2
check "probe --port COM2: no lock there (status 3)" test "$(status probe-com2)" = 3
ctl read-com2 read -P COM2 "$(winpath "$work/never.bin")"
check "read -P COM2: the lock on COM1 is left alone (status 3)" test "$(status read-com2)" = 3
check "and v38ctl says where it answered" \
    said read-com2 "the lock answered on COM1, not on COM2: nothing was sent to it"
check "and writes no file" test ! -e "$work/never.bin"
sim_stop
ctl ports-none ports
check "ports: exit status 1 without a lock" test "$(status ports-none)" = 1
com1_none=$(tr -d '\r' <"$work/ports-none.out" | grep -F 'COM1  ' || true)
check "ports: COM1 then absent" test "$com1_none" = 'COM1  \\.\COM1: absent'
if [ "$com1_none" != 'COM1  \\.\COM1: absent' ]; then
    echo "       v38ctl said (status $(status ports-none)):"
    sed 's/^/         out: /' "$work/ports-none.out"
    sed 's/^/         err: /' "$work/ports-none.err"
fi
for port in COM2 COM3 COM20; do
    wine_unmap_port "$port"
done
kill "$ports_pid" 2>/dev/null || true
ports_pid=

echo "wine end-to-end: $((checks - failures)) of $checks checks passed"
if [ $failures -ne 0 ]; then
    sed 's/^/  sim: /' "$work/sim.log" | tail -40
    exit 1
fi
