# Sourced by the scripts that run the lock simulator, after scripts/lib/checks.sh and
# from the repository's folder.
#   $sim                            the simulator: the default build's unless set
#   sim_built                       the default build's, brought up to date (configured
#                                   first when needed)
#   sim_start FOLDER [OPTIONS...]   $sim keeping its memory in FOLDER/lock.bin (its
#                                   output in FOLDER/device, FOLDER/sim.log); waits for
#                                   its device and sets $sim_device
#   sim_stop                        ends it (callers' EXIT traps call it too)
sim=${sim:-build/debug/tools/sim/v38-lock-sim}
sim_pid=
sim_device=

sim_built() {
    [ -f build/debug/build.ninja ] || cmake --preset default >/dev/null
    cmake --build --preset default --target v38-lock-sim >/dev/null
}

sim_start() {
    local folder=$1
    shift
    sim_stop
    : >"$folder/device"
    "$sim" --image "$folder/lock.bin" "$@" >"$folder/device" 2>>"$folder/sim.log" &
    sim_pid=$!
    # It prints its device once the device (and the link it was asked for) is there.
    if ! until_true 5 test -s "$folder/device"; then
        echo "the lock simulator did not start:" >&2
        tail -5 "$folder/sim.log" >&2
        return 1
    fi
    sim_device=$(head -n 1 "$folder/device")
}

sim_stop() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=
    fi
}
