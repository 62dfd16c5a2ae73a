# shellcheck shell=bash
# Sourced by scripts/demo and scripts/screenshots: the reference server on a free loopback port and a
# client home of its own. Expects $bin (the built programs) and fail().

# Starts lanternfish-devserver with the demo account and fresh data in DIR; sets server_pid and port.
start_reference_server() {
    local dir=$1
    mkdir -p "$dir"
    "$bin/lanternfish-devserver" --seed demo --dev-api --port 0 --data "$dir/data" \
        >"$dir/server.out" 2>"$dir/server.log" &
    server_pid=$!
    # It prints "listening on http://HOST:PORT" once it accepts connections (port 0: any free port).
    port=""
    for _ in $(seq 1 200); do
        if [[ $(head -n 1 "$dir/server.out" 2>/dev/null) =~ ^listening\ on\ http://.*:([0-9]+)$ ]]; then
            port=${BASH_REMATCH[1]}
            return 0
        fi
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$dir/server.log" >&2
    fail "the reference server did not start"
}

# Ends a background process started by the script (no-op when it is gone) and reaps it.
stop_process() {
    if [[ -n ${1:-} ]] && kill -0 "$1" 2>/dev/null; then
        kill -TERM "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}

# The client home: HOME and the XDG folders in DIR, so your own settings, cache and shares are never
# touched. Sets client_home and client_env (the variables, for env).
make_client_home() {
    client_home=$1
    mkdir -p "$client_home"/{.config,.cache,.local/share,.local/state}
    client_env=(HOME="$client_home" XDG_CONFIG_HOME="$client_home/.config" XDG_CACHE_HOME="$client_home/.cache"
        XDG_DATA_HOME="$client_home/.local/share" XDG_STATE_HOME="$client_home/.local/state")
}

# Runs a command in the client home. In the background, run env "${client_env[@]}" ... &
# instead: $! is then the program itself, where a function would be a subshell that, stopped,
# leaves the program running.
in_home() {
    env "${client_env[@]}" "$@"
}

# Starts a D-Bus session bus of the script's own; sets bus_pid and bus (its address).
start_private_bus() {
    local dir=$1
    dbus-daemon --session --nofork --print-address=1 >"$dir/bus.address" 2>"$dir/bus.log" &
    bus_pid=$!
    bus=""
    for _ in $(seq 1 100); do
        bus=$(head -n 1 "$dir/bus.address" 2>/dev/null || true)
        [[ -n $bus ]] && return 0
        kill -0 "$bus_pid" 2>/dev/null || break
        sleep 0.1
    done
    fail "no D-Bus session bus: $(cat "$dir/bus.log")"
}
