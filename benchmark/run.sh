#!/usr/bin/env bash
# Builds the benchmark programs of a win64 build tree and prints their
# figures, running each under Wine in the tests' environment:
#   benchmark/run.sh BUILD_DIR        (./norvane.sh bench runs it on build/win64)
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
support=$here/../tests/support
# target, program path in the build tree
benches=(
    "data_bench benchmark/data_bench.exe"
    "runtime_process_bench tests/runtime/process/runtime_process_bench.exe"
    "runtime_window_event_bench tests/runtime/window/runtime_window_event_bench.exe"
)
"$support/wine-env.sh" start "$build" >/dev/null || exit 1
rc=0
for bench in "${benches[@]}"; do
    set -- $bench
    cmake --build "$build" --target "$1" >/dev/null || { echo "bench: $1 did not build" >&2; rc=1; continue; }
    echo "== $1"
    "$support/wine-run.sh" "$build" "$build/$2" || rc=1
done
"$support/wine-env.sh" stop "$build" >/dev/null
exit $rc
