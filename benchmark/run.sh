#!/usr/bin/env bash
# Builds the benchmark programs of a win64 build tree and prints their
# figures, running each under Wine in the tests' environment:
#   benchmark/run.sh BUILD_DIR [WIN32_BUILD_DIR]
#                                     (./norvane.sh bench: build/win64 build/win32)
#
# Then the tables of what users feel (benchmark/user_bench.py): the real
# program against the bare window and the whole floor (both built from
# benchmark/baseline.cpp), plus the image sizes, for which a PE32 build of the
# product is made in BUILD_DIR/size-pe32. A window manager (openbox) runs on
# the display, as on every desktop. With WIN32_BUILD_DIR the same table for
# the PE32 follows, against baselines built for IA-32, under 32-bit Wine in
# the machine of tests/pe32/guest.sh: natively where the host runs IA-32
# code, else in the emulated guest (then only its ratios mean something).
set -u
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
build=$(cd "$1" && pwd)
win32_arg=${2:-}  # the loop below reuses the positional parameters
support=$top/tests/support
# target, program path in the build tree
benches=(
    "data_bench benchmark/data_bench.exe"
    "runtime_process_bench tests/runtime/process/runtime_process_bench.exe"
    "runtime_window_event_bench tests/runtime/window/runtime_window_event_bench.exe"
)
# The tests' environment brings the window manager (openbox) with the display.
"$support/wine-env.sh" start "$build" >/dev/null || exit 1
trap '"$support/wine-env.sh" stop "$build" >/dev/null' EXIT
rc=0
for bench in "${benches[@]}"; do
    set -- $bench
    cmake --build "$build" --target "$1" >/dev/null || { echo "bench: $1 did not build" >&2; rc=1; continue; }
    echo "== $1"
    "$support/wine-run.sh" "$build" "$build/$2" || rc=1
done

pe32=$build/size-pe32
if [ ! -f "$pe32/build.ninja" ]; then
    (cd "$top" && cmake --preset win32 -B "$pe32" -DBUILD_TESTING=OFF >/dev/null) ||
        echo "bench: the PE32 build for the size figure did not configure" >&2
fi
cmake --build "$pe32" --target Norvane >/dev/null 2>&1 || echo "bench: the PE32 image did not build" >&2
if cmake --build "$build" --target Norvane baseline baseline_floor >/dev/null; then
    echo "== user_bench (about 12 minutes)"
    # Bounded even if something unforeseen stalls: SIGTERM makes it stop
    # every process it started and print nothing.
    timeout 1800 python3 "$here/user_bench.py" "$build" "$pe32/Norvane.exe" || rc=1
else
    echo "bench: Norvane or a baseline did not build" >&2
    rc=1
fi
"$support/wine-env.sh" stop "$build" >/dev/null
trap - EXIT

[ -n "$win32_arg" ] || exit $rc
win32=$(cd "$win32_arg" && pwd)
if ! cmake --build "$win32" --target Norvane baseline baseline_floor >/dev/null; then
    echo "bench: the PE32 or its baselines did not build" >&2
    exit 1
fi
where=$("$top/tests/pe32/guest.sh" where "$win32")
share=$win32/bench-share
rm -rf "$share"
mkdir -p "$share/image/benchmark"
cp "$win32/Norvane.exe" "$share/image/"
cp "$win32/benchmark/baseline.exe" "$win32/benchmark/baseline_floor.exe" "$share/image/benchmark/"
cp "$here/user_bench.py" "$share/"
limit=1800 scale=1
[ "$where" = host ] || { limit=7200; scale=5; }
echo "== user_bench, PE32 ($where; about 12 minutes on a host that runs IA-32 code)"
# Wine reads local copies: large images read through the emulated guest's
# share can come in with wrong pages.
NORVANE_GUEST_LIMIT=$((limit + 300)) "$top/tests/pe32/guest.sh" run "$win32" "$share" \
    bash -c 'rm -rf /tmp/bench && cp -r image /tmp/bench &&
        NORVANE_BENCH_IMAGE=PE32 NORVANE_BENCH_WINE=$WINE NORVANE_BENCH_WHERE=$NORVANE_WHERE \
        NORVANE_BENCH_TIME_SCALE='"$scale"' NORVANE_BENCH_ROUNDS='"${NORVANE_BENCH_ROUNDS:-10}"' NORVANE_BENCH_IDLE_S='"${NORVANE_BENCH_IDLE_S:-10}"' \
        timeout '"$limit"' python3 user_bench.py /tmp/bench -' || rc=1
exit $rc
