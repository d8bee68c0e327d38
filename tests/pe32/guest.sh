#!/usr/bin/env bash
# The machine the PE32 checks run in where the host kernel refuses IA-32
# programs: an emulated x86-64 guest (qemu-system-x86_64, TCG) with Debian's
# 32-bit Wine, on a real desktop (Xvfb 1024x768x24 on :1 with openbox).
#
#   guest.sh where [BUILD_DIR]
#       prints "host" when the host runs a tiny static i386 program, else
#       "guest". On a host, the guest's own tree serves as a chroot (its
#       Debian 32-bit Wine runs natively: the host needs no i386 architecture
#       of its own); elsewhere QEMU emulates the whole machine.
#       NORVANE_PE32_WHERE=host|guest overrides the answer.
#   guest.sh build [--suite SUITE] BUILD_DIR
#       makes the guest under BUILD_DIR/guest/ (a link into the machine's
#       cache, see guest_home), or reuses it: the root
#       filesystem (Debian packages only, by mmdebstrap), its kernel, a small
#       initrd and a win32 Wine prefix on a disk overlay. Each part is rebuilt
#       only when what it is made from changes (see the *.key files).
#       SUITE is the Debian release the guest is made of, and so its Wine:
#       bookworm (Wine 8.0, the default, in BUILD_DIR/guest/) or trixie
#       (Wine 10.0, in BUILD_DIR/guest-trixie/).
#   guest.sh run [--suite SUITE] [--cpus N] [--after FILE] BUILD_DIR SHARE_DIR COMMAND [ARG...]
#       builds if needed, boots the guest (or, on a host, enters the chroot in
#       private namespaces) on a throw-away copy of the disk (or tree) with
#       SHARE_DIR mounted at /share, runs COMMAND there as root from /share
#       (e.g. "./checks.sh Norvane.exe"), prints its output and returns its
#       exit code. In the command's environment: DISPLAY=:1, WINEPREFIX (the
#       win32 prefix, its Wine server already running), WINEARCH=win32,
#       WINE=/usr/lib/wine/wine, WINESERVER, WINEDEBUG=-all, NORVANE_WHERE=guest
#       or host.
#       Time limits: NORVANE_GUEST_BOOT_LIMIT (s, to reach the command,
#       default 300), NORVANE_GUEST_LIMIT (s, the command, default 3600).
#       NORVANE_GUEST_DISPLAY=DISPLAY: instead of its own Xvfb and openbox,
#       the machine draws on that X display of the host (its socket bound
#       into the chroot; the emulated guest reaches it through one port of
#       QEMU's restricted user network, relayed to the display by socat),
#       with the display's cookie if it has one.
#       --cpus N gives the guest N processors (default 2). A chroot only sees
#       the host's processors, so --cpus always boots the emulated machine.
#       --after FILE: the machine boots at once, and COMMAND starts once FILE
#       exists (whoever is still filling SHARE_DIR makes it when done, or
#       ends this run); the boot's time limit counts from then.
#
# A failure of the guest itself prints one line starting "guest:" that names
# the stage and exits 125; SHARE_DIR/.guest/ keeps the console log.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

say() { echo "guest: $*"; }
fail() { echo "guest: $*" >&2; exit 125; }
now() { echo "${EPOCHREALTIME/,/.}"; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'; }

# ---- where the PE32 can run -------------------------------------------------

# guest_home BUILD_DIR DIR: BUILD_DIR/DIR, made a link to the machine's cache
# of guests (NORVANE_GUEST_CACHE, default ~/.cache/norvane; empty: none) when
# it does not exist yet. The tree, kernel and prefix depend only on what the
# stage keys name, not on the clone: every clone and CI run on this machine
# then shares them, and builds them once.
guest_home() {
    local build=$1 dir=$2 cache=${NORVANE_GUEST_CACHE-${XDG_CACHE_HOME:-$HOME/.cache}/norvane}
    if [ -n "$cache" ] && [ ! -e "$build/$dir" ] && [ ! -L "$build/$dir" ]; then
        mkdir -p "$cache/$dir" "$build"
        ln -sfn "$(cd "$cache/$dir" && pwd)" "$build/$dir"
    fi
    mkdir -p "$build/$dir"
}

cmd_where() {
    case "${NORVANE_PE32_WHERE:-}" in host|guest) echo "$NORVANE_PE32_WHERE"; return ;; esac
    local dir
    if [ -n "${1:-}" ]; then guest_home "$1" guest; dir=$1/guest; else dir=$(mktemp -d); fi
    local probe=$dir/ia32-probe rc=0
    # Built under a name of its own and renamed into place: the test command
    # asks from two processes at once, and a probe run while the other was
    # still writing it once answered "guest" on a host that runs IA-32 code.
    if [ ! -x "$probe" ] || [ "$probe" -ot "$here/ia32-probe.c" ]; then
        if gcc -m32 -static -O2 -o "$probe.$$" "$here/ia32-probe.c" 2>/dev/null; then
            mv -f "$probe.$$" "$probe"
        else
            rm -f "$probe.$$"
            echo "guest: cannot build the i386 probe (gcc -m32 -static); assuming no IA-32" >&2
        fi
    fi
    "$probe" 2>/dev/null || rc=$?
    [ -n "${1:-}" ] || rm -rf "$dir"
    if [ "$rc" -eq 42 ]; then
        echo host
    else
        echo "guest: this host does not run IA-32 programs" >&2
        echo guest
    fi
}

# ---- building ---------------------------------------------------------------

# The bookworm entries of the host's own apt sources, one-line format.
host_sources() {
    local f
    {
        for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
            [ -f "$f" ] && grep -E '^deb[[:space:]]' "$f"
        done
        for f in /etc/apt/sources.list.d/*.sources; do
            [ -f "$f" ] && awk 'BEGIN { RS = ""; FS = "\n" }
                {
                    delete v
                    for (i = 1; i <= NF; i++) {
                        if ($i ~ /^#/ || $i !~ /:/) continue
                        k = tolower(substr($i, 1, index($i, ":") - 1))
                        v[k] = substr($i, index($i, ":") + 1)
                        gsub(/^[ \t]+|[ \t]+$/, "", v[k])
                    }
                    if (v["enabled"] == "no" || v["types"] !~ /(^| )deb( |$)/) next
                    opt = v["signed-by"] != "" ? "[signed-by=" v["signed-by"] "] " : ""
                    nu = split(v["uris"], u, " "); ns = split(v["suites"], s, " ")
                    for (a = 1; a <= nu; a++) for (b = 1; b <= ns; b++)
                        print "deb " opt u[a] " " s[b] " " v["components"]
                }' "$f"
        done
    } | awk '{ for (i = 2; i <= NF; i++) if ($i !~ /^\[|=|\]$/) break
               if ($(i + 1) ~ /^bookworm(-updates|-security)?$/) print }'
}

# The guest's sources: the host's bookworm mirrors, for the guest's suite.
guest_sources() {
    local s
    s=$(host_sources || true)
    if [ -z "$s" ]; then
        s="deb http://deb.debian.org/debian bookworm main
deb http://deb.debian.org/debian bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main"
    fi
    echo "$s" | sed -E "s/ bookworm(-updates|-security)? / $SUITE\1 /"
}

packages() { sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$here/guest-packages"; }

# modules_in_order MODULES_DEP NAME...: the module files that NAMEs need,
# each after what it depends on (names built into the kernel give nothing).
modules_in_order() {
    local dep=$1; shift
    awk -v want="$*" '
        function key(f) { sub(/.*\//, "", f); sub(/\.ko.*$/, "", f); gsub(/-/, "_", f); return f }
        function load(m,   n, a, i) {
            if (m in done) return
            done[m] = 1
            n = split(deps[m], a, " ")
            for (i = n; i >= 1; i--) load(a[i])
            if (m in path) print path[m]
        }
        { f = $1; sub(/:$/, "", f); k = key(f); path[k] = f
          for (i = 2; i <= NF; i++) deps[k] = deps[k] " " key($i) }
        END { n = split(want, w, " "); for (i = 1; i <= n; i++) load(w[i]) }' "$dep"
}

# Stage: the root filesystem as an ext4 image, plus what the initrd needs
# from it (kernel, busybox, the disk's modules). The tree itself is dropped.
stage_rootfs() {
    local g=$1 root=$1/rootfs proxy=""
    rm -rf "$root" "$g/root.img" "$g/kernel"
    guest_sources >"$g/guest.list"
    local opts=(--variant=minbase --architectures=amd64,i386
        --aptopt='APT::Install-Recommends "false"'
        --include="$(packages | paste -sd,)")
    proxy=$(apt-config dump Acquire::http::Proxy 2>/dev/null | sed -n 's/^Acquire::http::Proxy "\(.*\)";$/\1/p')
    [ -n "$proxy" ] && opts+=(--aptopt="Acquire::http::Proxy \"$proxy\"")
    # Documentation and the kernel's drivers for real hardware are a third
    # of the tree and never used in the guest.
    local p
    for p in /usr/share/man /usr/share/doc /usr/share/info /usr/share/locale \
            {,/usr}/lib/modules/'*'/kernel/drivers/{gpu,net,media,infiniband,staging,scsi,iio,usb,bluetooth,isdn} \
            {,/usr}/lib/modules/'*'/kernel/{sound,net/wireless,net/bluetooth}; do
        opts+=(--dpkgopt="path-exclude=$p/*")
    done
    # The paravirtual network card stays: the run command's display port.
    for p in virtio_net net_failover; do
        opts+=(--dpkgopt="path-include=/lib/modules/*/kernel/drivers/net/$p.ko*")
        opts+=(--dpkgopt="path-include=/usr/lib/modules/*/kernel/drivers/net/$p.ko*")
    done
    # The tree is made afresh each time, so dpkg need not sync every file;
    # and the guest boots with an initrd of its own (stage_initrd), so
    # Debian's, made for the kernel package, would be work thrown away.
    opts+=(--dpkgopt=force-unsafe-io
        --essential-hook='chroot "$1" dpkg-divert --local --rename --add /usr/sbin/update-initramfs >/dev/null && ln -s /bin/true "$1/usr/sbin/update-initramfs"')
    local rc=0
    # Its messages copied for the mend below; a pipe, so that the copy is
    # whole when mmdebstrap has ended (pipefail keeps its exit code).
    { mmdebstrap "${opts[@]}" "$SUITE" "$root" "$g/guest.list" 2>&1 >&3 |
        tee "$g/mmdebstrap.err" >&2; } 3>&1 || rc=$?
    if [ $rc -ne 0 ]; then
        # A mirror is now and then caught between two syncs: an index that
        # does not match its Release file (seen: bookworm-security's i386
        # packages, for hours) fails the whole tree. An update suite caught so
        # is left out, for every architecture so that multi-arch pairs keep
        # one version; the tree is then the release and the rest.
        local broken suite
        broken=$(sed -n 's|.*Failed to fetch [^ ]*/dists/\([^/ ]*\)/.*|\1|p' "$g/mmdebstrap.err" | sort -u)
        [ -n "$broken" ] || return 1
        for suite in $broken; do
            [ "$suite" != "$SUITE" ] || return 1
            grep -v " $suite " "$g/guest.list" >"$g/guest.list.part" || true
            mv "$g/guest.list.part" "$g/guest.list"
            echo "== left out $suite: apt could not fetch its indices ($(grep -m1 -o "Failed to fetch [^ ]*/dists/$suite/[^ ]*  .*" "$g/mmdebstrap.err" | sed "s/.*  //"))"
        done
        rm -rf "$root"
        mmdebstrap "${opts[@]}" "$SUITE" "$root" "$g/guest.list"
    fi
    echo "== mmdebstrap done $(du -sh "$root" | cut -f1)"

    mkdir -p "$g/kernel/modules"
    local vmlinuz kver m
    vmlinuz=$(ls "$root"/boot/vmlinuz-* | head -n 1)
    kver=${vmlinuz##*/vmlinuz-}
    cp "$vmlinuz" "$g/kernel/vmlinuz"
    cp "$root/bin/busybox" "$g/kernel/busybox"
    modules_in_order "$root/lib/modules/$kver/modules.dep" \
        virtio_pci virtio_blk crc32c_generic ext4 >"$g/kernel/modules.order"
    [ -s "$g/kernel/modules.order" ] || { echo "no disk modules found for $kver"; return 1; }
    # busybox's insmod takes plain modules; newer kernels ship them xz-packed.
    for m in $(cat "$g/kernel/modules.order"); do
        case $m in
            *.xz) xz -dc "$root/lib/modules/$kver/$m" >"$g/kernel/modules/$(basename "${m%.xz}")" ;;
            *) cp "$root/lib/modules/$kver/$m" "$g/kernel/modules/" ;;
        esac
    done
    sed -i 's|.*/||; s|\.xz$||' "$g/kernel/modules.order"

    local t
    t=$(now)
    mke2fs -q -t ext4 -L guest -d "$root" "$g/root.img" 4G
    echo "== ext4 image $(since "$t")"
    rm -rf "$root"
}

# Stage: the initrd (busybox, the disk's modules, the two init scripts).
stage_initrd() {
    local g=$1 d=$1/initrd.tree
    rm -rf "$d"
    mkdir -p "$d/bin" "$d/lib/modules"
    cp "$g/kernel/busybox" "$d/bin/busybox"
    cp "$here/guest-initrd" "$d/init"
    cp "$here/guest-init" "$d/norvane-init"
    chmod 755 "$d/init" "$d/norvane-init"
    cp "$g/kernel/modules/"* "$d/lib/modules/"
    cp "$g/kernel/modules.order" "$d/modules"
    (cd "$d" && find . | "$g/kernel/busybox" cpio -o -H newc 2>/dev/null) | gzip -1 >"$g/initrd.img"
    rm -rf "$d"
}

# The QEMU command line shared by every boot; ARGS+=(...) for the rest.
qemu_args() {  # qemu_args GUEST_DIR MODE SHARE CONSOLE DRIVE
    ARGS=(qemu-system-x86_64 -machine pc -cpu qemu64 -accel tcg,thread=multi -smp "${CPUS:-2}" -m 2048
        -kernel "$1/kernel/vmlinuz" -initrd "$1/initrd.img"
        -append "console=ttyS0 quiet panic=1 norvane.mode=$2"
        -drive "if=virtio,cache=unsafe,$5"
        -virtfs "local,path=$3,mount_tag=host,security_model=none,id=share"
        -nic none -display none -vga none -no-reboot -monitor none
        -serial "file:$4")
}

# The host's X display NORVANE_GUEST_DISPLAY as the machine sees it. Sets
# DISPLAY_SOCKET (a local display's socket, or empty) and DISPLAY_RELAY (what
# socat connects one guest connection to).
display_route() {
    local d=$1 host n
    host=${d%%:*}
    n=${d#*:}
    n=${n%%.*}
    [[ "$n" =~ ^[0-9]+$ ]] || fail "display: cannot read the display number of \"$d\""
    DISPLAY_SOCKET=""
    if [ -z "$host" ] || [ "$host" = unix ]; then
        DISPLAY_SOCKET=/tmp/.X11-unix/X$n
        [ -S "$DISPLAY_SOCKET" ] || fail "display: $d has no socket $DISPLAY_SOCKET"
        DISPLAY_RELAY=UNIX-CONNECT:$DISPLAY_SOCKET
    else
        DISPLAY_RELAY=TCP:$host:$((6000 + n))
    fi
    DISPLAY_NUMBER=$n
}

# The display's cookie, valid for any address (the guest reaches the display
# under another name), in FILE; nothing when the display needs none.
display_cookie() {
    command -v xauth >/dev/null || return 0
    local cookies
    cookies=$(xauth nlist "$1" 2>/dev/null | sed 's/^..../ffff/')
    [ -n "$cookies" ] && echo "$cookies" | xauth -f "$2" nmerge - 2>/dev/null
    return 0
}

# Stage: the win32 Wine prefix, made once by wineboot inside the guest and
# kept on a qcow2 overlay of the root image.
stage_prefix() {
    local g=$1 share=$1/prefix-share
    rm -rf "$share" "$g/prefix.qcow2" "$g/prefix.part.qcow2"
    mkdir -p "$share/.guest"
    qemu-img create -q -f qcow2 -b root.img -F raw "$g/prefix.part.qcow2"
    qemu_args "$g" prefix "$share" "$g/logs/prefix-console.log" "format=qcow2,file=$g/prefix.part.qcow2"
    "${ARGS[@]}"
    cat "$share/.guest/stdout" "$share/.guest/stderr" 2>/dev/null | tail -n 20
    [ "$(cat "$share/.guest/rc" 2>/dev/null)" = 0 ] || { echo "wineboot failed in the guest"; return 1; }
    sed 's/^/== guest /' "$share/.guest/times"
    mv "$g/prefix.part.qcow2" "$g/prefix.qcow2"
    rm -rf "$share"
}

# Where the host runs IA-32 code itself, the guest's tree serves as a chroot
# and no emulator is needed. host_launch ROOT SHARE [RUN_DIR] starts the
# guest's init there in private mount, network and process namespaces (the
# host's mounts, displays and processes stay untouched); with RUN_DIR, ROOT
# is the read-only lower layer of a throw-away overlay.
host_launch() {
    local net=--net
    [ -n "${GUEST_DISPLAY:-}" ] && [ -z "${DISPLAY_SOCKET:-}" ] && net=""
    unshare --mount $net --pid --fork --kill-child --propagation private bash -c '
        set -e
        r=$1 share=$2 run=$3 init=$4
        if [ -n "$run" ]; then
            mkdir -p "$run/upper" "$run/work" "$run/root"
            mount -t overlay overlay -o "lowerdir=$r,upperdir=$run/upper,workdir=$run/work" "$run/root"
            r=$run/root
        fi
        mount -t proc proc "$r/proc"
        mount --rbind /dev "$r/dev"
        mount -t tmpfs tmpfs "$r/dev/shm"
        mount -t sysfs sys "$r/sys"
        mount -t tmpfs -o mode=1777 tmpfs "$r/tmp"
        mount -t tmpfs -o mode=0755 tmpfs "$r/run"
        mkdir -p "$r/share"
        mount --bind "$share" "$r/share"
        if [ -n "$6" ]; then
            mkdir -p "$r/tmp/.X11-unix"
            touch "$r$6"
            mount --bind "$6" "$r$6"
        fi
        cp "$init" "$r/run/norvane-init"
        exec chroot "$r" /usr/bin/env -i NORVANE_CHROOT=1 "NORVANE_MODE=$5" \
            "NORVANE_DISPLAY=$7" /run/norvane-init
    ' launch "$1" "$2" "${3:-}" "$here/guest-init" "${NORVANE_MODE:-run}" \
        "${DISPLAY_SOCKET:-}" "${GUEST_DISPLAY:-}"
}

# Stage (host runs IA-32): the guest's tree copied out of the image without
# mounting it, with the win32 Wine prefix made in it natively.
stage_chroot() {
    local g=$1 share=$1/prefix-share
    rm -rf "$g/chroot" "$g/chroot.part" "$share"
    mkdir -p "$g/chroot.part" "$share/.guest"
    debugfs -R "rdump / $g/chroot.part" "$g/root.img" >/dev/null
    [ -x "$g/chroot.part/usr/lib/wine/wine" ] || { echo "the tree copied from root.img has no 32-bit Wine"; return 1; }
    NORVANE_MODE=prefix host_launch "$g/chroot.part" "$share"
    cat "$share/.guest/stdout" "$share/.guest/stderr" 2>/dev/null | tail -n 20
    [ "$(cat "$share/.guest/rc" 2>/dev/null)" = 0 ] || { echo "wineboot failed in the chroot"; return 1; }
    mv "$g/chroot.part" "$g/chroot"
    rm -rf "$share"
}

# key NAME PARTS...: what a stage is made from, hashed.
key() {
    local name=$1; shift
    { declare -f "stage_$name"; printf '%s\n' "$@"; } | sha256sum | cut -c1-16
}

# run_stage NAME LIMIT KEY: runs the stage unless its key is unchanged, under
# a time limit, with its output in logs/NAME.log.
run_stage() {
    local name=$1 limit=$2 k=$3 g=$GUEST t rc=0
    if [ "$(cat "$g/$name.key" 2>/dev/null)" = "$k" ]; then
        say "$name: cached ($k)"
        return 0
    fi
    rm -f "$g/$name.key"
    t=$(now)
    say "$name: building (limit $limit s, log $g/logs/$name.log)"
    timeout -k 10 "$limit" "$0" _stage "$name" "$g" "$SUITE" >"$g/logs/$name.log" 2>&1 || rc=$?
    if [ $rc -ne 0 ]; then
        tail -n 15 "$g/logs/$name.log" | sed 's/^/  | /' >&2
        [ $rc -eq 124 ] || [ $rc -eq 137 ] && fail "stage $name: not done within $limit s (log: $g/logs/$name.log)"
        fail "stage $name failed (exit $rc; log: $g/logs/$name.log)"
    fi
    grep '^== ' "$g/logs/$name.log" | sed "s/^== /guest: $name: /" || true
    echo "$k" >"$g/$name.key"
    say "$name: done in $(since "$t")"
}

cmd_build() {
    local build=$1 dir=guest
    [ "$SUITE" = bookworm ] || dir=guest-$SUITE
    guest_home "$build" "$dir"
    mkdir -p "$build/$dir/logs"
    GUEST=$(cd "$build/$dir" && pwd)
    WHERE=$(cmd_where "$build")
    local tool tools=(mmdebstrap mke2fs)
    if [ "$WHERE" = host ]; then tools+=(debugfs unshare); else tools+=(qemu-system-x86_64 qemu-img); fi
    for tool in "${tools[@]}"; do
        command -v "$tool" >/dev/null || fail "stage tools: $tool is missing (packages mmdebstrap, e2fsprogs, util-linux, qemu-system-x86, qemu-utils)"
    done
    exec 9>"$GUEST/lock"
    flock -w 3600 9 || fail "stage lock: another build of $GUEST did not finish within an hour"
    local k_root
    k_root=$(key rootfs "$(packages)" "$(guest_sources)" "$(mmdebstrap --version)")
    run_stage rootfs 1800 "$k_root"
    if [ "$WHERE" = host ]; then
        run_stage chroot 600 "$(key chroot "$k_root" "$(declare -f host_launch)")"
    else
        run_stage initrd 120 "$(key initrd "$k_root" "$(cat "$here/guest-initrd" "$here/guest-init")")"
        run_stage prefix 900 "$(key prefix "$k_root" "$(qemu-system-x86_64 --version | head -n 1)" \
                                        "$(declare -f qemu_args)")"
    fi
    exec 9>&-
}

# ---- running ----------------------------------------------------------------

# print_new FILE OFFSET_VAR: prints what FILE gained since the last call.
print_new() {
    local f=$1 var=$2 size
    size=$(stat -c %s "$f" 2>/dev/null || echo 0)
    if [ "$size" -gt "${!var}" ]; then
        tail -c +$((${!var} + 1)) "$f" | head -c $((size - ${!var}))
        printf -v "$var" '%s' "$size"
    fi
}

# boot_stages T0 OFFSET_VAR: a line for each stage of the boot reached since
# the last call, timed from T0 on the host's clock.
boot_stages() {
    local stage new
    new=$(print_new "$out/times" "$2"; echo "offset ${!2}")
    printf -v "$2" '%s' "${new##*offset }"
    while read -r stage _; do
        case $stage in
            init) say "boot: the machine's init is running ($(since "$1"))" ;;
            display) say "boot: display ready ($(since "$1"))" ;;
            desktop) say "boot: desktop ready ($(since "$1"))" ;;
            wine) say "boot: Wine server and services started ($(since "$1"))" ;;
        esac
    done <<<"${new%offset *}" >&2
}

cmd_run() {
    local build=$1 share=$2; shift 2
    [ $# -gt 0 ] || fail "run: no command given"
    [ -d "$share" ] || fail "run: $share is not a directory"
    share=$(cd "$share" && pwd)
    cmd_build "$build" >&2
    local g=$GUEST out=$share/.guest
    exec 9>"$g/lock"
    flock -s 9
    rm -rf "$out"
    mkdir -p "$out"
    # Whole or not at all: the machine starts the command as soon as it sees
    # the file.
    local command
    command=$(printf '%q ' "$@")
    put_command() { printf '%s' "$command" >"$out/command.part" && mv "$out/command.part" "$out/command"; }
    [ -n "$AFTER" ] || put_command
    # An emulated machine that boots while its files are still being made
    # (a build, on every core) boots on what the build leaves idle, at the
    # lowest priority, and gets its own back for the command: on 2 cores a
    # boot at full priority made the build 20-60 s longer, about what it
    # saved. Only where the priority can be raised again (root).
    local boot_nice=0
    [ -n "$AFTER" ] && [ "$WHERE" = guest ] && [ "$(id -u)" = 0 ] && boot_nice=19
    local t0 qemu boot_limit=${NORVANE_GUEST_BOOT_LIMIT:-300} limit=${NORVANE_GUEST_LIMIT:-3600} run_dir=""
    t0=$(now)
    GUEST_DISPLAY=""
    if [ -n "${NORVANE_GUEST_DISPLAY:-}" ]; then
        display_route "$NORVANE_GUEST_DISPLAY"
        display_cookie "$NORVANE_GUEST_DISPLAY" "$out/xauth"
        GUEST_DISPLAY=$NORVANE_GUEST_DISPLAY
        [ -n "$DISPLAY_SOCKET" ] && GUEST_DISPLAY=:$DISPLAY_NUMBER
    fi
    if [ "$WHERE" = host ]; then
        mkdir -p "$g/runs"
        run_dir=$(mktemp -d "$g/runs/XXXXXX")
        host_launch "$g/chroot" "$share" "$run_dir" </dev/null >"$out/console.log" 2>&1 &
    else
        qemu_args "$g" run "$share" "$out/console.log" "format=qcow2,file=$g/prefix.qcow2,snapshot=on"
        if [ -n "$GUEST_DISPLAY" ]; then
            command -v socat >/dev/null || fail "display: socat is missing (package socat)"
            # One socat per connection the guest opens to 10.0.2.100:6000+N;
            # restrict=on: the guest reaches nothing else.
            local i
            for i in "${!ARGS[@]}"; do
                [ "${ARGS[$i]}" = -nic ] && ARGS[$((i + 1))]="user,model=virtio-net-pci,restrict=on,guestfwd=tcp:10.0.2.100:$((6000 + DISPLAY_NUMBER))-cmd:socat - $DISPLAY_RELAY"
                # The same display number, so that the cookie fits.
                [ "${ARGS[$i]}" = -append ] && ARGS[$((i + 1))]+=" norvane.display=10.0.2.100:$DISPLAY_NUMBER"
            done
        fi
        nice -n "$boot_nice" "${ARGS[@]}" </dev/null >"$out/qemu.log" 2>&1 &
    fi
    qemu=$!
    say "running on the $WHERE ($SUITE$([ "$WHERE" = guest ] && echo ", ${CPUS:-2} processors"))" >&2
    # errexit holds in the trap too: a machine already gone must not turn
    # the failure's own exit code into kill's.
    trap 'kill $qemu 2>/dev/null || true; wait $qemu 2>/dev/null || true; [ -z "$run_dir" ] || rm -rf "$run_dir"' EXIT
    trap 'exit 130' INT TERM
    local waited=0 times_off=0
    while [ ! -e "$out/started" ]; do
        if [ -n "$AFTER" ] && [ ! -e "$out/command" ] && [ -e "$AFTER" ]; then
            # Every thread of the machine (a priority is each thread's own).
            [ "$boot_nice" = 0 ] || renice -n 0 -p $(ls "/proc/$qemu/task" 2>/dev/null) >/dev/null 2>&1 || true
            put_command
        fi
        boot_stages "$t0" times_off
        if ! kill -0 $qemu 2>/dev/null; then
            tail -n 15 "$out/console.log" "$out/qemu.log" 2>/dev/null | sed 's/^/  | /' >&2
            fail "boot: the $WHERE run stopped before reaching the command (console: $out/console.log)"
        fi
        if [ $waited -ge $((boot_limit * 10)) ]; then
            tail -n 15 "$out/console.log" 2>/dev/null | sed 's/^/  | /' >&2
            fail "boot: the $WHERE run did not reach the command within $boot_limit s (console: $out/console.log)"
        fi
        sleep 0.1
        [ ! -e "$out/command" ] || waited=$((waited + 1))
    done
    boot_stages "$t0" times_off
    local t1 out_off=0 err_off=0
    t1=$(now)
    say "booted to the command in $(since "$t0")" >&2
    waited=0
    while [ ! -e "$out/rc" ] && kill -0 $qemu 2>/dev/null && [ $waited -lt $((limit * 2)) ]; do
        print_new "$out/stdout" out_off
        print_new "$out/stderr" err_off >&2
        sleep 0.5
        waited=$((waited + 1))
    done
    print_new "$out/stdout" out_off
    print_new "$out/stderr" err_off >&2
    if [ ! -e "$out/rc" ]; then
        kill $qemu 2>/dev/null
        tail -n 15 "$out/console.log" 2>/dev/null | sed 's/^/  | /' >&2
        if [ $waited -ge $((limit * 2)) ]; then
            fail "command: not finished within $limit s (console: $out/console.log)"
        fi
        fail "command: the guest stopped before the command ended (console: $out/console.log)"
    fi
    local t2 rc
    t2=$(now)
    rc=$(cat "$out/rc")
    for _ in $(seq 1 300); do kill -0 $qemu 2>/dev/null || break; sleep 0.1; done
    kill $qemu 2>/dev/null || true
    wait $qemu 2>/dev/null || true
    [ -z "$run_dir" ] || rm -rf "$run_dir"
    trap - EXIT
    # The guest's own clock (seconds since its kernel started) for the stages
    # of the boot; the host's for the rest.
    say "$(awk -v where="$WHERE" '{ t[$1] = $2 } END {
            if (where == "guest") printf "kernel to init %.1f s, ", t["init"]
            printf "display %.1f s, desktop %.1f s, Wine services %.1f s",
                t["display"] - t["init"], t["desktop"] - t["display"], t["wine"] - t["desktop"] }' \
            "$out/times"); command $(awk -v a="$t1" -v b="$t2" 'BEGIN { printf "%.1f s", b - a }'); power-off $(since "$t2"); exit code $rc" >&2
    return "$rc"
}

# All in one function, read whole before it runs: editing this file during a
# long build does not change the running copy.
main() {
    local usage="usage: $0 where [BUILD_DIR] | build [--suite SUITE] BUILD_DIR |
       run [--suite SUITE] [--cpus N] [--after FILE] BUILD_DIR SHARE_DIR COMMAND [ARG...]"
    local what=${1:-}
    [ $# -eq 0 ] || shift
    SUITE=bookworm AFTER=""
    while [ $# -ge 2 ]; do
        case "$1" in
            --suite) SUITE=$2 ;;
            --cpus) [[ "$2" =~ ^[1-9][0-9]*$ ]] || { echo "$usage" >&2; exit 2; }
                    CPUS=$2 NORVANE_PE32_WHERE=guest ;;
            --after) AFTER=$2 ;;
            *) break ;;
        esac
        shift 2
    done
    case "$SUITE" in bookworm|trixie) ;; *) echo "guest: no guest of suite $SUITE (bookworm or trixie)" >&2; exit 2 ;; esac
    case "$what" in
        where) cmd_where "${1:-}" ;;
        build) [ $# -eq 1 ] || { echo "$usage" >&2; exit 2; }; cmd_build "$1" ;;
        run) [ $# -ge 3 ] || { echo "$usage" >&2; exit 2; }; cmd_run "$@" ;;
        _stage) set -x; SUITE=$3; "stage_$1" "$2" ;;
        *) echo "$usage" >&2; exit 2 ;;
    esac
}
main "$@"; exit $?
