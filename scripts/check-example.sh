#!/usr/bin/env bash
# Installs the library into a scratch prefix, builds the example host programs against the
# installed package only (as a host project would), and runs them against the reference server
# executable.
#   check-example.sh SOURCE_DIR BUILD_DIR SERVER_EXECUTABLE [PYTHON]
set -euo pipefail

source_dir=$1
build_dir=$2
server=$3
python=${4:-}

source "$(dirname "$0")/scratch-server.sh"

cmake --install "$build_dir" --prefix "$scratch/prefix" >/dev/null
cmake -S "$source_dir/examples" -B "$scratch/examples" -G Ninja \
    -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/examples" >/dev/null

endpoint="ipc://$scratch/server.sock"
start_server "$server" "$endpoint"

"$scratch/examples/server_queries" "$endpoint" 5000 | tee "$scratch/queries.out"
for expected in "statistics: " "barcode kits: 3" "lamp kits: 2" "server information: {"; do
    if ! grep -q "$expected" "$scratch/queries.out"; then
        echo "missing from the example's output: $expected"
        exit 1
    fi
done

"$scratch/examples/client_life" "$endpoint" toy_flipflop_fast 200 | tee "$scratch/life.out"
grep -q "reads called: 200 of 200" "$scratch/life.out" || { echo "client_life lost reads"; exit 1; }
# The Python examples against the installed module, where the build made one.
run_python_example() {  # NAME EXPECTED ARGUMENT...: EXPECTED is a pattern its output must hold
    local name=$1 expected=$2
    shift 2
    if ! "$python" "$source_dir/examples/python/$name.py" "$@" \
        >"$scratch/$name.out" 2>"$scratch/$name.err" || ! grep -q "$expected" "$scratch/$name.out"
    then
        echo "the Python example $name failed:"
        cat "$scratch/$name.out" "$scratch/$name.err"
        exit 1
    fi
    cat "$scratch/$name.out"
}
python_package=$(find "$scratch/prefix" -name "_tamsu.*.so" -path "*/tamsu/*" | head -n 1)
if [ -n "$python" ] && [ -n "$python_package" ]; then
    export PYTHONPATH
    PYTHONPATH=$(dirname "$(dirname "$python_package")")
    run_python_example basecall_reads "reads called: 100 of 100" "$endpoint" toy_flipflop_fast 100
    "$scratch/prefix/bin/tamsu" simulate --count 50 --min-length 2000 --max-length 8000 \
        --seed 1 --output "$scratch/reads.tsv" >/dev/null
    run_python_example basecall_file "^reads: 50, bases: [1-9][0-9]*, mean q-score: [0-9]" \
        "$endpoint" "$scratch/reads.tsv"
    run_python_example server_query "^server information: {" "$endpoint"
fi
echo "example host programs ok"
