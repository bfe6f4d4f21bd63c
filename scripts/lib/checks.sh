# Test bookkeeping for the project's shell checks. Source it; each failed check is counted
# in $failures, for the script to act on at its end.
failures=0

check() {   # check DESCRIPTION COMMAND...
    local what=$1; shift
    if "$@"; then
        echo "  ok: $what"
    else
        echo "  FAILED: $what"
        failures=$((failures + 1))
    fi
}

# launch_simulator DIR ROOT [ARG...]: starts $SIMULATOR serving the folder ROOT on DIR/port,
# logging requests to DIR/requests.log and its output to DIR/simulator.out and .err, with
# the further arguments as they are. Sets launched_pid; returns once the port is there, or
# 1 with the simulator's errors when it never comes.
launch_simulator() {
    local dir=$1 root=$2; shift 2
    : > "$dir/requests.log"
    rm -f "$dir/simulator.out"
    "$SIMULATOR" --root "$root" --link "$dir/port" --log "$dir/requests.log" "$@" \
        > "$dir/simulator.out" 2> "$dir/simulator.err" &
    launched_pid=$!
    for _ in $(seq 100); do
        [ -s "$dir/simulator.out" ] && [ -L "$dir/port" ] && return 0
        sleep 0.05
    done
    echo "the simulator did not start"; cat "$dir/simulator.err"; return 1
}
