# Sourced by the check scripts: a scratch directory ($scratch) and a reference server started in
# it with start_server EXECUTABLE ENDPOINT; on exit the server is stopped and the directory removed.
scratch=$(mktemp -d)
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

# Returns once the server says it is listening; fails when it never does.
start_server() {
    "$1" "$2" >"$scratch/server.out" 2>&1 &
    server_pid=$!
    for _ in $(seq 200); do
        grep -q "Listening on" "$scratch/server.out" && return 0
        sleep 0.1
    done
    echo "the reference server did not start: $(cat "$scratch/server.out")" >&2
    return 1
}
