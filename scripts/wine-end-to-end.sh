#!/usr/bin/env bash
# Reads and writes through the Win32 serial code of v38ctl.exe under Wine against the
# lock simulator: Wine's registry maps COM1 to a link that each simulator in turn points
# at its pseudo-terminal. Needs WINEPREFIX set; builds the (Linux) simulator when missing.
#   scripts/wine-end-to-end.sh path/to/v38ctl.exe
set -euo pipefail
cd "$(dirname "$0")/.."
ctl=$(realpath "$1")
sim=build/debug/tools/sim/v38-lock-sim
if [ ! -x "$sim" ]; then
    cmake --preset default >/dev/null
    cmake --build --preset default --target v38-lock-sim
fi
export WINEDEBUG=-all

work=$(mktemp -d /tmp/v38-wine-XXXXXX)
link=$work/com1
sim_pid=
ptys_pid=
cleanup() {
    stop_simulator
    [ -z "$ptys_pid" ] || kill "$ptys_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

stop_simulator() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=
    fi
}

# start_simulator [simulator options...]: a simulator keeping the lock's image in
# $work/lock.bin, reachable as COM1.
start_simulator() {
    stop_simulator
    "$sim" --image "$work/lock.bin" --link "$link" --log "$@" >"$work/device" 2>>"$work/sim.log" &
    sim_pid=$!
    for _ in $(seq 50); do
        [ -s "$work/device" ] && [ -L "$link" ] && return 0
        sleep 0.1
    done
    echo "the simulator did not start" >&2
    return 1
}

# A configuration file of random bytes.
make_file() {
    /usr/bin/python3 - "$1" "$2" <<'PY'
import random, sys
def crc16(data, crc=0xFFFF):
    for x in data:
        crc ^= x
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc
image = bytes(random.Random(int(sys.argv[2])).randrange(256) for _ in range(512))
crc = crc16(image)
open(sys.argv[1], "wb").write(image + bytes([crc & 0xFF, crc >> 8]))
PY
}

winpath() { echo "Z:${1//\//\\}"; }

source scripts/lib/checks.sh # after the cd to the repository

ctl() { # ctl OUTPUT_PREFIX ARGS...: runs v38ctl.exe, keeps its exit status and stderr
    local prefix=$1
    shift
    set +e
    wine "$ctl" "$@" >"$work/$prefix.out" 2>"$work/$prefix.err"
    echo $? >"$work/$prefix.status"
    set -e
}
status() { cat "$work/$1.status"; }
said() { grep -qF "$2" "$work/$1.err"; }

wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$link" /f >/dev/null 2>&1
wineserver -k 2>/dev/null || true # the port map is read when Wine starts
wineboot >/dev/null 2>&1 || true

echo "wine end-to-end: v38ctl.exe over the Win32 serial code, COM1 -> simulator"
rm -f "$work/lock.bin"
make_file "$work/a.bin" 1
start_simulator
ctl write-a write "$(winpath "$work/a.bin")"
check "a write succeeds" test "$(status write-a)" = 0
check "the lock holds exactly the written file" cmp -s "$work/a.bin" "$work/lock.bin"
ctl read-a read "$(winpath "$work/a-back.bin")"
check "a read succeeds" test "$(status read-a)" = 0
check "the read gives back exactly the file" cmp -s "$work/a.bin" "$work/a-back.bin"

# Faults that the retries overcome: NAK to a probe, damaged, cut and missing replies.
make_file "$work/b.bin" 2
start_simulator --fault nak@M --fault crc:2@K2 --fault truncate@K4 --fault silence@S \
    --fault length@C1 --fault nak:2@C3 --fault truncate@C6 --fault silence@C7
ctl write-b write "$(winpath "$work/b.bin")"
check "a write with faults the retries overcome succeeds" test "$(status write-b)" = 0
check "the lock holds exactly that file" cmp -s "$work/b.bin" "$work/lock.bin"
ctl read-b read "$(winpath "$work/b-back.bin")"
check "a read with faults the retries overcome succeeds" test "$(status read-b)" = 0
check "the read gives back exactly the file" cmp -s "$work/b.bin" "$work/b-back.bin"

# Faults that end a transfer: nothing half-done is left anywhere.
make_file "$work/c.bin" 3
start_simulator --fault nak@K5
ctl write-c write "$(winpath "$work/c.bin")"
check "a write refused in block 5 fails" test "$(status write-c)" = 1
check "with \"Błąd komunikacji z Zamkiem.\"" said write-c "Błąd komunikacji z Zamkiem."
check "and the lock keeps what it held" cmp -s "$work/b.bin" "$work/lock.bin"
start_simulator --fault silence:3@C2
cp "$work/a.bin" "$work/kept.bin"
ctl read-c read "$(winpath "$work/kept.bin")"
check "a read whose block 2 never comes fails" test "$(status read-c)" = 1
check "with \"Błąd komunikacji z Zamkiem.\"" said read-c "Błąd komunikacji z Zamkiem."
check "and the file it would have written is kept" cmp -s "$work/a.bin" "$work/kept.bin"
stop_simulator
rm -f "$link"
ctl probe-none probe
check "without a lock the probe fails" test "$(status probe-none)" = 1
check "with \"Brak połączenia z Zamkiem.\"" said probe-none "Brak połączenia z Zamkiem."

# v38ctl ports through the Win32 code: COM1 the simulator, COM2 a pseudo-terminal that
# never answers, COM3 a path with nothing behind it, COM20 a port beyond the search.
echo "wine end-to-end: v38ctl.exe ports"
/usr/bin/python3 - "$work/silent" "$work/far" <<'PY' &
import os, pty, signal, sys
ends = []
for link in sys.argv[1:]:
    master, slave = pty.openpty()
    os.symlink(os.ttyname(slave), link)
    os.close(slave)
    ends.append(master)
signal.pause()
PY
ptys_pid=$!
map_port() { wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1; }
map_port COM2 "$work/silent"
map_port COM3 "$work/missing"
map_port COM20 "$work/far"
wineserver -k 2>/dev/null || true
wineboot >/dev/null 2>&1 || true
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
stop_simulator
ctl ports-none ports
check "ports: exit status 1 without a lock" test "$(status ports-none)" = 1
check "ports: COM1 then absent" test "$(tr -d '\r' <"$work/ports-none.out" | grep -F 'COM1  ')" = 'COM1  \\.\COM1: absent'
for port in COM2 COM3 COM20; do
    wine reg delete 'HKLM\Software\Wine\Ports' /v "$port" /f >/dev/null 2>&1 || true
done
kill "$ptys_pid" 2>/dev/null || true
ptys_pid=

echo "wine end-to-end: $((checks - failures)) of $checks checks passed"
if [ $failures -ne 0 ]; then
    sed 's/^/  sim: /' "$work/sim.log" | tail -40
    exit 1
fi
