#!/usr/bin/env bash
# Norvane's two commands (and the benchmark):
#
#   ./norvane.sh run     build and run Norvane, the PE32, under 32-bit Wine: on
#                        this host where it runs IA-32 code, else in an
#                        emulated x86-64 guest; on $DISPLAY, else on a virtual one
#   ./norvane.sh test    build both presets and run every test
#   ./norvane.sh run-port  build and run the 64-bit port under Wine64
#   ./norvane.sh bench   print the benchmark figures of both images
#   ./norvane.sh soak    the long runs in full (100 rounds, 100 000 hostile messages,
#                        every system call failed in turn on both images) and the
#                        PE32 on emulated machines of 1, 4 and 8 processors
#   ./norvane.sh pe32 [--wine 8|10|both] [FILE]  the checks of the PE32 (default
#                        build/win32/Norvane.exe) under Debian's 32-bit Wine 8.0
#                        (bookworm), 10.0 (trixie) or both (the default): on this
#                        host where it runs IA-32 code, else in an emulated x86-64 guest
#
# Each installs what is missing from Debian's packages first.
set -euo pipefail
caller_dir=$PWD
cd "$(dirname "$0")"
top=$PWD

PACKAGES=(cmake ninja-build g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 xvfb xdotool
          x11-utils x11-apps imagemagick qemu-user gcc-multilib g++-multilib googletest
          python3 libx11-6 libxi6 openbox fonts-liberation
          mmdebstrap qemu-system-x86 qemu-utils e2fsprogs socat xauth)

say() { echo "norvane: $*"; }
XVFB_PID=""
WM_PID=""

install_missing() {
    local missing=() p
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    if ! { $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
            $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; }; then
        local still=()
        for p in "${missing[@]}"; do
            dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || still+=("$p")
        done
        say "could not install: ${still[*]} (apt-get failed; install them and run again)" >&2
        exit 1
    fi
}

build_preset() {  # build_preset PRESET [CMAKE_ARGUMENT...]
    cmake --preset "$1" "${@:2}" >/dev/null
    cmake --build --preset "$1"
}

# Two builds of the image from clean trees must be byte-identical.
check_reproducible() {
    local preset=$1 a b
    a=$top/build/$preset/Norvane.exe
    b=$top/build/repro-$preset/Norvane.exe
    rm -rf "$top/build/repro-$preset"
    cmake --preset "$preset" -B "$top/build/repro-$preset" -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$top/build/repro-$preset" --target Norvane >/dev/null
    if cmp -s "$a" "$b"; then
        say "reproducible: two clean $preset builds give identical Norvane.exe ($(stat -c %s "$a") bytes)"
    else
        say "NOT reproducible: $a and $b differ" >&2
        return 1
    fi
}

# phase WHAT: a line with the time WHAT took, since the previous phase, and
# since the test command began.
phase() {
    say "time: $1 $(awk -v a="$PHASE_AT" -v b="$EPOCHREALTIME" -v t="$TEST_AT" \
        'BEGIN { printf "%.0f s (%.0f s in all)", b - a, b - t }')"
    PHASE_AT=$EPOCHREALTIME
}

cmd_test() {
    TEST_AT=$EPOCHREALTIME PHASE_AT=$EPOCHREALTIME
    install_missing
    phase "packages"
    local rc=0 guest_build where
    # The PE32's tree (minutes of downloading and unpacking, and on a host
    # without IA-32 a Wine prefix made in the guest) is made meanwhile, once
    # for the machine (tests/pe32/guest.sh keeps it out of the clone); the
    # PE32 checks find it ready, or make it themselves and say why not.
    # On a host that runs IA-32 code the second Wine's tree is needed too.
    # At the lowest priority: the journeys that run meanwhile are timed (on
    # 2 cores, two journeys of the port failed while it unpacked).
    # Both trees at once: unpacking is one process each, and while the
    # journeys run a core is mostly idle.
    mkdir -p "$top/build/win32"
    where=$("$top/tests/pe32/guest.sh" where "$top/build/win32")
    {
        renice -n 19 -p $BASHPID >/dev/null 2>&1 || true
        ionice -c 3 -p $BASHPID >/dev/null 2>&1 || true
        "$top/tests/pe32/guest.sh" build "$top/build/win32" >"$top/build/win32/guest-build.log" 2>&1 &
        if [ "$where" = host ]; then
            "$top/tests/pe32/guest.sh" build --suite trixie "$top/build/win32" \
                >"$top/build/win32/guest-build-trixie.log" 2>&1 || { wait; false; }
        fi && wait $!
    } &
    guest_build=$!
    # The PE32 first: its checks need only its own build and the tree. In an
    # emulated machine they are the longest part by far, so they start as
    # soon as both are there and the port is built beside them at a lower
    # priority; where the host runs IA-32 code they are short, and start
    # once the port is built too. Either way they run beside the port's tests
    # (each side has a display, a Wine server and a prefix of its own, and
    # mostly waits for windows); their lines come after the port's, from a
    # log. The PE32's image tests read the port's image too: the one built
    # next. The emulated machine boots while the PE32 is built (half a
    # minute), and starts the checks once the build is done.
    local pe32_log=$top/build/win32/pe32-checks.log pe32
    pe32_start() {
        {
            wait_for "$guest_build"
            phase "the PE32's tree ready"
            pe32_everyday
            phase "PE32 checks"
        } >"$pe32_log" 2>&1 &
        pe32=$!
    }
    rm -f "$top/build/win32/pe32-built"
    if [ "$where" = guest ]; then PE32_BUILT=$top/build/win32/pe32-built; pe32_start; fi
    build_preset win32 -DNORVANE_PORT_BUILD="$top/build/win64"
    : >"$top/build/win32/pe32-built"
    phase "PE32 build"
    cmake --preset win64 >/dev/null
    nice -n "$([ "$where" = host ] && echo 0 || echo 10)" cmake --build --preset win64
    phase "port build"
    [ "$where" = guest ] || pe32_start
    ctest --preset win32 || rc=1
    phase "PE32 image tests"
    ctest --preset win64 || rc=1
    phase "port tests"
    { check_reproducible win32 && check_reproducible win64; } >"$top/build/reproducible.log" 2>&1 || rc=1
    cat "$top/build/reproducible.log"
    phase "second clean builds"
    wait "$pe32" || rc=1
    wait "$guest_build" || say "the PE32's tree was not made in the background (see build/win32/guest-build*.log); the checks tried themselves"
    cat "$pe32_log"
    phase "waiting for the PE32 checks"
    return $rc
}

# wait_for PID: until the process PID (not a child of this shell) has ended.
wait_for() { while kill -0 "$1" 2>/dev/null; do sleep 1; done; }

# The test command's PE32 checks: both Wines on a host that runs IA-32 code.
pe32_everyday() {
    local rc=0 image=$top/build/win32/Norvane.exe second
    if [ "$("$top/tests/pe32/guest.sh" where "$top/build/win32")" = host ]; then
        # Both Wines at once, each in its own tree, and the fault sweep once,
        # under the first.
        CHECKS="$PE32_JOURNEYS programs versions" pe32_checks "$image" trixie \
            >"$(pe32_out trixie).log" 2>&1 &
        second=$!
        pe32_checks "$image" bookworm || rc=1
        wait "$second" || rc=1
        cat "$(pe32_out trixie).log"
        pe32_versions_table
    else
        pe32_checks "$image" bookworm || rc=1
        # Emulated, the second Wine (its tree and prefix, its checks) does
        # not fit the test command's time beside the fault sweep;
        # ./norvane.sh soak runs it.
        say "the PE32 under Wine 10 runs in ./norvane.sh soak on a host without IA-32 code"
    fi
    return $rc
}

PE32_JOURNEYS="window run repeat exit keyboard start-end planted properties"
# pe32_out SUITE [CPUS]: where the checks of that Wine (on that many
# processors) leave their logs.
pe32_out() { echo "$top/build/win32/pe32-checks$([ "$1" = bookworm ] || echo "-$1")${2:+-$2}"; }
# The Wine release of each guest suite.
wine_of() { case $1 in bookworm) echo 8.0 ;; trixie) echo 10.0 ;; esac; }

# pe32_share IMAGE SHARE: the image and the build's test programs into the
# machine's share.
pe32_share() {
    [ -f "$1" ] || { say "no PE32 image at $1" >&2; return 1; }
    cp -al "$top/build/win32/tests" "$2/build/tests"
    cp "$1" "$2/image/Norvane.exe"
}
PE32_BUILT=""

# pe32_checks IMAGE SUITE [CPUS]: tests/pe32/checks.sh against IMAGE under
# the 32-bit Wine of the Debian SUITE (bookworm or trixie), with the win32
# build's test programs, in the machine tests/pe32/guest.sh provides; with
# CPUS, an emulated machine of that many processors. CHECKS chooses the parts
# (default all). The share it sees (OUT.share) holds the test scripts, the
# build's test programs (hard links) and a copy of IMAGE. Results go to OUT,
# build/win32/pe32-checks[-SUITE][-CPUS].
pe32_checks() {
    local image=$1 suite=$2 cpus=${3:-} build=$top/build/win32 where scale=1 share rc out
    local wine="Wine $(wine_of "$suite")" run=(run --suite "$suite") env=(env)
    out=$(pe32_out "$suite" "$cpus")
    where=$("$top/tests/pe32/guest.sh" where "$build")
    if [ -n "$cpus" ]; then
        # Slower with more emulated processors than host cores.
        scale=$(( 5 * (cpus > 2 ? (cpus + 1) / 2 : 1) ))
        run+=(--cpus "$cpus")
        env+=(E2E_PROCESSORS="$cpus")
        say "PE32 checks under $wine: an emulated x86-64 guest with $cpus processors (time limits x$scale)"
    elif [ "$where" = host ]; then
        say "PE32 checks under $wine: this host runs IA-32 code, so on the host (the guest's tree as a chroot)"
    else
        if [ -n "${NORVANE_PE32_WHERE:-}" ]; then
            say "PE32 checks under $wine: in an emulated x86-64 guest, as NORVANE_PE32_WHERE asks (slow: time limits x5)"
        else
            say "PE32 checks under $wine: this host does not run IA-32 code, so in an emulated x86-64 guest (slow: time limits x5)"
        fi
        scale=5
    fi
    [ -n "$cpus" ] && where="guest, $cpus processors"
    # A share of its own: checks of another Wine or processor count may run
    # at the same time.
    share=$out.share
    rm -rf "$share" "$share.go"
    mkdir -p "$share/image" "$share/build"
    cp -r "$top/tests" "$share/tests"
    # With PE32_BUILT (a file made when the PE32's build is done) the machine
    # boots while the build runs, and the checks start once the build and
    # its programs are in the share.
    local guest_run
    if [ -n "$PE32_BUILT" ]; then run+=(--after "$share.go"); else pe32_share "$image" "$share" || return 1; fi
    NORVANE_GUEST_BOOT_LIMIT=$((${NORVANE_GUEST_BOOT_LIMIT:-300} * scale / (scale > 1 ? 5 : 1))) \
    "$top/tests/pe32/guest.sh" "${run[@]}" "$build" "$share" \
        "${env[@]}" E2E_TIME_SCALE=$scale CHECKS="${CHECKS:-}" NORVANE_SOAK="${NORVANE_SOAK:-}" FAULT_LANES="${FAULT_LANES:-}" \
        bash tests/pe32/checks.sh image/Norvane.exe build out &
    guest_run=$!
    if [ -n "$PE32_BUILT" ]; then
        # The build failed when the command that runs it has ended.
        while [ ! -e "$PE32_BUILT" ] && kill -0 $$ 2>/dev/null && kill -0 $guest_run 2>/dev/null; do
            sleep 0.5
        done
        if [ -e "$PE32_BUILT" ] && pe32_share "$image" "$share"; then
            : >"$share.go"
        else
            kill $guest_run 2>/dev/null
        fi
    fi
    set +e
    wait $guest_run
    rc=$?
    set -e
    rm -rf "$out"
    cp -r "$share/out" "$out" 2>/dev/null &&
        say "PE32 checks: logs, version table and the window's screenshot in $out"
    [ $rc -eq 0 ] && say "PE32 checks passed ($wine, $where)" || say "PE32 checks FAILED ($wine, $where)" >&2
    return $rc
}

# The version tables of both Wines side by side, when both ran: one column
# per release (what GetVersionExA answered, whether the probe libraries
# loaded, the exit code after EXIT), in build/win32/versions.txt.
pe32_versions_table() {
    local a b
    a=$(pe32_out bookworm)/versions.txt b=$(pe32_out trixie)/versions.txt
    [ -f "$a" ] && [ -f "$b" ] || return 0
    awk -v a="Wine $(wine_of bookworm)" -v b="Wine $(wine_of trixie)" '
        function cell(line,   f) {
            if (line ~ /not offered/) return "not offered"
            split(line, f, /  +/)
            return f[2] ", " (f[3] ~ /^loaded/ ? "loaded" : "not loaded") ", exit " f[5]
        }
        FNR == 1 { file++; next }
        { v = $1; if (!(v in row)) order[++n] = v; row[v] = 1; c[file, v] = cell($0) }
        END {
            printf "%-8s %-35s %s\n", "version", a, b
            for (i = 1; i <= n; i++)
                printf "%-8s %-35s %s\n", order[i], c[1, order[i]], c[2, order[i]]
        }' "$a" "$b" >"$top/build/win32/versions.txt"
    say "the version table of both Wines (build/win32/versions.txt):"
    cat "$top/build/win32/versions.txt"
}

# The processor counts: the run journey on emulated machines of 1, 4 and 8
# processors, the repeat journey at 4, under each Wine; prints the table of
# what each launch did.
pe32_processors() {
    local image=$1 suite n rc=0
    for suite in bookworm trixie; do
        for n in 1 4 8; do
            CHECKS="run$([ "$n" = 4 ] && echo " repeat")" pe32_checks "$image" "$suite" "$n" || rc=1
        done
    done
    pe32_processor_table
    return $rc
}

pe32_processor_table() {
    local suite n log
    say "the processor table:"
    printf '%-9s %-3s %-15s %-8s %-14s %-6s %-16s %s\n' Wine n "Wine's answer" workers time-critical waits "pausing together" "exit code"
    for suite in bookworm trixie; do
        for n in 1 4 8; do
            for log in "$(pe32_out "$suite" "$n")"/{run,repeat}.log; do
                [ -f "$log" ] || continue
                awk -v wine="$(wine_of "$suite")$([[ $log == *repeat.log ]] && echo " rep")" -v n="$n" '
                    /Wine answers/ { answer = $0; sub(/.*system mask /, "", answer); sub(/,.*/, "", answer) }
                    /^launch:/ { gsub(/,/, ""); w = $3; t = $5; x = $7; p = $10; e = $15 }
                    END { printf "%-9s %-3s %-15s %-8s %-14s %-6s %-16s %s\n", wine, n, answer, w, t, x, p, e == "" ? "-" : e }' "$log"
            done
        done
    done
}

cmd_pe32() {
    install_missing
    local wine=both suites=() suite rc=0
    if [ "${1:-}" = --wine ]; then wine=${2:-}; shift 2 || true; fi
    case $wine in
        8) suites=(bookworm) ;;
        10) suites=(trixie) ;;
        both) suites=(bookworm trixie) ;;
        *) echo "usage: $0 pe32 [--wine 8|10|both] [FILE]" >&2; exit 2 ;;
    esac
    local image=${1:-}
    if [ -z "$image" ]; then
        build_preset win32 >/dev/null
        image=$top/build/win32/Norvane.exe
    else
        case $image in /*) ;; *) image=$caller_dir/$image ;; esac
        build_preset win32 >/dev/null
    fi
    for suite in "${suites[@]}"; do
        pe32_checks "$image" "$suite" || rc=1
    done
    [ ${#suites[@]} -eq 1 ] || pe32_versions_table
    return $rc
}

# The PE32 under 32-bit Wine in the machine tests/pe32/guest.sh provides
# (the guest's tree as a chroot where the host runs IA-32 code, else the
# emulated guest): on the user's display, or on the machine's own virtual
# display with a screenshot brought back and a click on EXIT.
cmd_run() {
    install_missing
    local t0=$EPOCHREALTIME build=$top/build/win32 where share rc shot=""
    build_preset win32 >/dev/null
    where=$("$top/tests/pe32/guest.sh" where "$build")
    if [ "$where" = host ]; then
        say "this host runs IA-32 code: the PE32 runs natively under Debian's 32-bit Wine from the guest's tree (a chroot in build/win32/guest/; the host's own packages stay as they are)"
    elif [ -n "${NORVANE_PE32_WHERE:-}" ]; then
        say "as NORVANE_PE32_WHERE asks: the PE32 runs in an emulated x86-64 guest (QEMU) under Debian's 32-bit Wine"
    else
        say "this host does not run IA-32 code: the PE32 runs in an emulated x86-64 guest (QEMU) under Debian's 32-bit Wine"
    fi
    share=$build/run-share
    rm -rf "$share"
    mkdir -p "$share"
    cp "$build/Norvane.exe" "$top/tests/pe32/show.sh" "$share/"
    local args=(bash show.sh Norvane.exe)
    if [ -n "${DISPLAY:-}" ]; then
        say "on your display $DISPLAY; the exit code is reported when you end the program"
        export NORVANE_GUEST_DISPLAY=$DISPLAY NORVANE_GUEST_LIMIT=${NORVANE_GUEST_LIMIT:-86400}
    else
        say "no DISPLAY: on the machine's own virtual display (Xvfb with a window manager); nobody can see or click the window there, so a screenshot is taken and EXIT clicked"
        args+=(norvane-window.png)
        shot=$build/norvane-window.png
        unset NORVANE_GUEST_DISPLAY
    fi
    local scale=1
    [ "$where" = host ] || scale=5
    set +e
    E2E_TIME_SCALE=$scale "$top/tests/pe32/guest.sh" run "$build" "$share" \
        env E2E_TIME_SCALE=$scale "${args[@]}"
    rc=$?
    set -e
    if [ -n "$shot" ] && [ -f "$share/norvane-window.png" ]; then
        cp "$share/norvane-window.png" "$shot" && say "screenshot of the window: $shot"
    fi
    if [ $rc -eq 125 ]; then
        say "the machine for the PE32 failed (see the guest: line above)" >&2
    else
        say "Norvane exited with code $rc ($(awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f s", b - a }') for the whole command)"
    fi
    return $rc
}

cmd_run_port() {
    install_missing
    build_preset win32 >/dev/null
    build_preset win64 >/dev/null
    local exe=$top/build/win64/Norvane.exe
    export WINEPREFIX=$top/build/win64/run-prefix WINEDEBUG=-all
    local shot=""
    if [ -z "${DISPLAY:-}" ]; then
        local n
        for n in $(seq 87 199); do
            [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] || break
        done
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
        XVFB_PID=$!
        export DISPLAY=":$n"
        for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
        if ! xdpyinfo >/dev/null 2>&1; then
            say "no display, and a virtual one (Xvfb) could not be started" >&2
            exit 1
        fi
        # A desktop has a window manager; without one Wine waits for it.
        openbox --sm-disable --config-file "$top/tests/support/openbox-rc.xml" </dev/null >/dev/null 2>&1 &
        WM_PID=$!
        shot=$top/build/win64/norvane-window.png
        say "no DISPLAY: running on a virtual display (Xvfb $DISPLAY with a window manager); nobody can see or click the window there"
    fi
    trap '[ -n "$WM_PID" ] && kill "$WM_PID" 2>/dev/null; [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null; /usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
    # An interrupted run still stops its virtual display.
    trap 'exit 130' INT TERM
    say "running the 64-bit port under Wine64; ./norvane.sh run runs the PE32, the product"
    say "starting $exe under Wine (first start creates a Wine prefix: a few seconds)"
    /usr/lib/wine/wine64 "$exe" </dev/null >/dev/null 2>&1 &
    local pid=$!
    if [ -n "$shot" ]; then
        local wid=""
        for _ in $(seq 1 150); do
            wid=$(xdotool search --name '^Norvane$' 2>/dev/null | head -n 1) && [ -n "$wid" ] && break
            kill -0 $pid 2>/dev/null || break
            sleep 0.1
        done
        if [ -n "$wid" ]; then
            sleep 0.5
            import -window root -strip "$shot" && say "screenshot of the window: $shot"
            say "closing the window (as its EXIT button would) since nobody can click on a virtual display"
            xdotool windowfocus "$wid" key alt+F4 2>/dev/null || true
        fi
    fi
    set +e
    wait $pid
    local rc=$?
    set -e
    say "Norvane exited with code $rc"
    return $rc
}

cmd_soak() {
    install_missing
    local rc=0 image=$top/build/win32/Norvane.exe
    build_preset win32
    build_preset win64
    NORVANE_SOAK=1 ctest --preset win64 -L soak || rc=1
    # The PE32's full sweep of failed system calls: hours in the emulated
    # guest; and each forged window property against a fresh program.
    NORVANE_SOAK=1 CHECKS="properties faults" NORVANE_GUEST_LIMIT=${NORVANE_GUEST_LIMIT:-86400} \
        pe32_checks "$image" bookworm || rc=1
    # What the test command leaves out on a host without IA-32 code.
    if [ "$("$top/tests/pe32/guest.sh" where "$top/build/win32")" = guest ]; then
        CHECKS="$PE32_JOURNEYS programs versions" pe32_checks "$image" trixie || rc=1
        pe32_versions_table
    fi
    pe32_processors "$image" || rc=1
    return $rc
}

cmd_bench() {
    install_missing
    build_preset win32 >/dev/null
    build_preset win64 >/dev/null
    "$top/benchmark/run.sh" "$top/build/win64" "$top/build/win32"
}

case "${1:-}" in
    run) cmd_run ;;
    run-port) cmd_run_port ;;
    test) cmd_test ;;
    bench) cmd_bench ;;
    soak) cmd_soak ;;
    pe32) shift; cmd_pe32 "$@" ;;
    *) echo "usage: $0 run|test|run-port|bench|soak|pe32 [--wine 8|10|both] [FILE]" >&2; exit 2 ;;
esac
