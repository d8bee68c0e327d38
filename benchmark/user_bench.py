#!/usr/bin/env python3
"""What users feel: the real Norvane.exe against two baselines of its width.

    user_bench.py BUILD_DIR PE32_IMAGE|-     (benchmark/run.sh calls it)

BUILD_DIR holds Norvane.exe and benchmark/baseline.exe and
benchmark/baseline_floor.exe, built from benchmark/baseline.cpp: the bare
window, and the whole floor (every system call the design makes until the
window and its buttons exist, made directly). PE32_IMAGE is only sized; "-"
leaves the sizes out.
For the port: under Wine64 on the Xvfb display and with the Wine server that
tests/support/wine-env.sh started for BUILD_DIR (benchmark/run.sh puts a
window manager on that display). For the PE32 (NORVANE_BENCH_IMAGE=PE32):
under the 32-bit Wine of NORVANE_BENCH_WINE, on DISPLAY with WINEPREFIX, in
the machine tests/pe32/guest.sh provides (NORVANE_BENCH_WHERE=host|guest).
The server stays warm for the whole run.
Each round starts the program and the two baselines one after the other (the
order rotates from round to round, so drift on a shared machine hits all
alike), then each three more times for start-up alone, and then the program
once more with Wine's relay trace.
Figures are medians with their range over the rounds after the warm-up; the
ratios are taken per round, program over a baseline.

Every time comes from one clock, CLOCK_MONOTONIC_RAW, which is also the clock
of Wine's +timestamp trace lines:
- a window is "mapped" when this X client, selecting SubstructureNotify on
  the root window, reads the MapNotify of a window named "Norvane";
- a click happens when the X server reports the raw button release of the
  xdotool click (XInput 2 raw events on the root window); without XInput 2
  the moment xdotool is started stands in;
- worker starts, priorities and ExitProcess come from the relay trace, and the
  process exit from a pidfd.
CPU time is the sum of /proc/PID/task/*/schedstat, memory the process's
VmHWM: under Wine the Linux process is the Windows process itself.

Every wait has a time-out; every process started here is killed by its pid
at the end, whatever happens.
"""

import ctypes
import os
import re
import select
import signal
import statistics
import subprocess
import sys
import time

WINE = os.environ.get("NORVANE_BENCH_WINE", "/usr/lib/wine/wine64")
IMAGE = os.environ.get("NORVANE_BENCH_IMAGE", "port")
WHERE = os.environ.get("NORVANE_BENCH_WHERE", "host")
ROUNDS = int(os.environ.get("NORVANE_BENCH_ROUNDS", "10"))
WARMUP = 1
IDLE_SPAN = float(os.environ.get("NORVANE_BENCH_IDLE_S", "10"))
# Time limits only; stretched in the emulated guest (NORVANE_BENCH_TIME_SCALE).
TIME_SCALE = float(os.environ.get("NORVANE_BENCH_TIME_SCALE", "1"))
WINDOW_TIMEOUT = 30.0 * TIME_SCALE
RUN_TIMEOUT = 20.0 * TIME_SCALE
CLICK_TIMEOUT = 10.0 * TIME_SCALE
START_SAMPLES = 4  # start-to-window samples per round and side

# Client points of the buttons. Where the client area starts in the X window
# is read from its size (XWatch.client_origin): at (0, 0) when a window
# manager draws the frame, at (3, 19) when Wine draws it itself.
CLIENT_SIZE = (300, 200)
RUN_BUTTON = (148, 50)
REPEAT_BUTTON = (148, 120)
EXIT_BUTTON = (255, 172)

# The design's straight-line code: the blocks the image must hold, counted
# from the atom sizes. PE32 form as listed; the port's EspClear moves the
# whole stack pointer (two REX prefixes) and its FpuLoop decrements with FF C8.
ATOM_BYTES = {
    "PE32": {"Marker": 2, "GprClear": 10, "sweep": 180, "MmxClear": 18, "emms": 2,
             "XmmClear": 20, "FpuLoop": 14},
    "port": {"Marker": 2, "GprClear": 10, "sweep": 182, "MmxClear": 18, "emms": 2,
             "XmmClear": 20, "FpuLoop": 15},
}


def now():
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW)


def design_bytes(form):
    a = ATOM_BYTES[form]
    cycle = 18 * a["sweep"] + 8 * a["MmxClear"] + a["emms"] + 8 * a["XmmClear"]
    full = lambda r: a["Marker"] + 5 * a["GprClear"] + 2 * a["FpuLoop"] + r * cycle
    repeat = a["Marker"] + a["GprClear"] + 2 * a["FpuLoop"] + 8 * cycle
    short = a["Marker"] + a["sweep"]
    # FullBlock(8) at start-up, RepeatBlock, three ShortBlocks (start-up
    # loop, final, control window exit), five FullBlock(4) in the worker.
    return full(8) + repeat + 3 * short + 5 * full(4)


# --------------------------------------------------------------------------
# The X side: map, unmap and raw button events, stamped as they are read.

class XWatch:
    CREATE_NOTIFY, DESTROY_NOTIFY, UNMAP_NOTIFY, MAP_NOTIFY = 16, 17, 18, 19
    PROPERTY_NOTIFY, GENERIC_EVENT = 28, 35
    XI_RAW_BUTTON_RELEASE = 16

    def __init__(self):
        x = ctypes.CDLL("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        x.XConnectionNumber.argtypes = [ctypes.c_void_p]
        x.XPending.argtypes = [ctypes.c_void_p]
        x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        x.XFlush.argtypes = [ctypes.c_void_p]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x.XInternAtom.restype = ctypes.c_ulong
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x.XGetWindowProperty.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long,
            ctypes.c_int, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
            ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
            ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XQueryExtension.argtypes = [ctypes.c_void_p, ctypes.c_char_p] + [ctypes.POINTER(ctypes.c_int)] * 3
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                 ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                 ctypes.POINTER(ctypes.c_uint)]
        x.XGetGeometry.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong)] + \
            [ctypes.POINTER(ctypes.c_int)] * 2 + [ctypes.POINTER(ctypes.c_uint)] * 4
        self.x = x
        self.d = x.XOpenDisplay(None)
        if not self.d:
            raise RuntimeError("cannot open the X display %s" % os.environ.get("DISPLAY"))
        # Windows vanish between an event and the property read: ignore X errors.
        self._on_error = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)
        x.XSetErrorHandler(self._on_error)
        self.root = x.XDefaultRootWindow(self.d)
        self.names = [x.XInternAtom(self.d, b"WM_NAME", 0), x.XInternAtom(self.d, b"_NET_WM_NAME", 0)]
        x.XSelectInput(self.d, self.root, 1 << 19)  # SubstructureNotifyMask
        self.xi_opcode = self._select_raw_releases()
        x.XSync(self.d, 0)
        self.fd = x.XConnectionNumber(self.d)
        self.event = (ctypes.c_ulong * 24)()
        self.mapped = {}
        self.reset()

    def _select_raw_releases(self):
        try:
            xi = ctypes.CDLL("libXi.so.6")
        except OSError:
            return None
        opcode, first_event, first_error = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
        if not self.x.XQueryExtension(self.d, b"XInputExtension", ctypes.byref(opcode),
                                      ctypes.byref(first_event), ctypes.byref(first_error)):
            return None
        major, minor = ctypes.c_int(2), ctypes.c_int(2)  # 2.1 on: raw events reach every client
        xi.XIQueryVersion.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int)]
        if xi.XIQueryVersion(self.d, ctypes.byref(major), ctypes.byref(minor)) != 0:
            return None

        class EventMask(ctypes.Structure):
            _fields_ = [("deviceid", ctypes.c_int), ("mask_len", ctypes.c_int),
                        ("mask", ctypes.POINTER(ctypes.c_ubyte))]
        bits = (ctypes.c_ubyte * 4)()
        bits[self.XI_RAW_BUTTON_RELEASE >> 3] |= 1 << (self.XI_RAW_BUTTON_RELEASE & 7)
        mask = EventMask(1, 4, bits)  # XIAllMasterDevices
        xi.XISelectEvents.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p, ctypes.c_int]
        xi.XISelectEvents(self.d, self.root, ctypes.byref(mask), 1)
        self._xi = xi
        return opcode.value

    def reset(self):
        """Forgets what was seen; windows still mapped stay known."""
        self.norvane_maps = []  # (window, time)
        self.unmaps = {}        # window -> time
        self.releases = []      # times

    def _name(self, window):
        for atom in self.names:
            kind, fmt, count, after = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong()
            data = ctypes.c_void_p()
            if self.x.XGetWindowProperty(self.d, window, atom, 0, 64, 0, 0, ctypes.byref(kind),
                                         ctypes.byref(fmt), ctypes.byref(count),
                                         ctypes.byref(after), ctypes.byref(data)) == 0 and data.value:
                text = ctypes.string_at(data.value, count.value) if fmt.value == 8 else b""
                self.x.XFree(data)
                if text:
                    return text
        return b""

    def _handle(self, t):
        e = self.event
        kind = e[0] & 0xFFFFFFFF
        if kind == self.CREATE_NOTIFY:
            # A killed program's windows may be destroyed after the next one
            # started, and window ids are reused: forget what an id did before.
            self.unmaps.pop(e[5], None)
            # PropertyChangeMask: names set after the map; StructureNotifyMask:
            # its own map and unmap still reach us once a window manager has
            # reparented it into a frame.
            self.x.XSelectInput(self.d, e[5], (1 << 22) | (1 << 17))
        elif kind == self.MAP_NOTIFY:
            self.unmaps.pop(e[5], None)
            self.mapped[e[5]] = t
            if self._name(e[5]) == b"Norvane":
                if all(w != e[5] for w, _ in self.norvane_maps):
                    self.norvane_maps.append((e[5], t))
            else:
                # A window manager's frame: its client's own MapNotify is
                # lost when the client was mapped into the frame before this
                # client had selected its events (the CreateNotify is read
                # late on a busy machine). The frame is mapped just after
                # its client, so its map stands in.
                for child in self._descendants(e[5], 3):
                    if self._name(child) == b"Norvane" and all(w != child for w, _ in self.norvane_maps):
                        self.mapped.setdefault(child, t)
                        self.norvane_maps.append((child, t))
        elif kind == self.UNMAP_NOTIFY:
            self.mapped.pop(e[5], None)
            self.unmaps.setdefault(e[5], t)  # Wine's withdrawal also sends a synthetic one
        elif kind == self.DESTROY_NOTIFY:
            self.mapped.pop(e[5], None)
            self.unmaps.setdefault(e[5], t)
        elif kind == self.PROPERTY_NOTIFY:
            window, atom = e[4], e[5]
            if atom in self.names and window in self.mapped and \
                    all(w != window for w, _ in self.norvane_maps) and self._name(window) == b"Norvane":
                self.norvane_maps.append((window, t))
        elif kind == self.GENERIC_EVENT and self.xi_opcode is not None:
            extension, evtype = e[4] & 0xFFFFFFFF, e[4] >> 32
            if extension == self.xi_opcode and evtype == self.XI_RAW_BUTTON_RELEASE:
                self.releases.append(t)

    def _descendants(self, window, depth):
        if depth == 0:
            return []
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not self.x.XQueryTree(self.d, window, ctypes.byref(root), ctypes.byref(parent),
                                 ctypes.byref(children), ctypes.byref(count)):
            return []
        found = [children[i] for i in range(count.value)]
        if children:
            self.x.XFree(children)
        return found + [d for c in found for d in self._descendants(c, depth - 1)]

    def client_origin(self, window):
        """The client area's place in the X window, from the window's size."""
        root, x, y = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_int()
        w, h, border, depth = ctypes.c_uint(), ctypes.c_uint(), ctypes.c_uint(), ctypes.c_uint()
        if not self.x.XGetGeometry(self.d, window, ctypes.byref(root), ctypes.byref(x), ctypes.byref(y),
                                   ctypes.byref(w), ctypes.byref(h), ctypes.byref(border), ctypes.byref(depth)):
            return (3, 19)
        side = max(0, (w.value - CLIENT_SIZE[0]) // 2)
        return (side, max(0, h.value - CLIENT_SIZE[1] - side))

    def window_manager(self):
        """Whether a window manager announces itself on the root window."""
        atom = self.x.XInternAtom(self.d, b"_NET_SUPPORTING_WM_CHECK", 0)
        kind, fmt, count, after = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong()
        data = ctypes.c_void_p()
        found = self.x.XGetWindowProperty(self.d, self.root, atom, 0, 1, 0, 0, ctypes.byref(kind),
                                          ctypes.byref(fmt), ctypes.byref(count), ctypes.byref(after),
                                          ctypes.byref(data)) == 0 and count.value > 0
        if data.value:
            self.x.XFree(data)
        return found

    def pump(self, timeout, fds=()):
        """Reads X events for at most timeout seconds, or until one of fds is
        readable; returns the readable ones."""
        deadline = now() + max(0.0, timeout)
        while True:
            while self.x.XPending(self.d):
                self.x.XNextEvent(self.d, self.event)
                self._handle(now())
            left = deadline - now()
            ready, _, _ = select.select([self.fd] + list(fds), [], [], max(0.0, left))
            done = [f for f in ready if f != self.fd]
            if done or left <= 0:
                while self.x.XPending(self.d):
                    self.x.XNextEvent(self.d, self.event)
                    self._handle(now())
                return done

    def close(self):
        self.x.XCloseDisplay(self.d)


# --------------------------------------------------------------------------
# Processes

def cpu_ns(pid):
    total = 0
    try:
        tasks = os.listdir("/proc/%d/task" % pid)
    except OSError:
        return None
    for task in tasks:
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return total


def start_ticks(pid):
    """When the process began (clock ticks after boot): with the number, it
    tells one process from a later one that was given the same number."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return int(f.read().rsplit(")", 1)[1].split()[19])
    except (OSError, ValueError, IndexError):
        return None


def thread_count(pid):
    try:
        return len(os.listdir("/proc/%d/task" % pid))
    except OSError:
        return 0


def vm_hwm_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def prefix_processes(prefix):
    """(wineserver pid, other pids) of the processes that belong to prefix."""
    server_dir = None
    try:
        st = os.stat(prefix)
        server_dir = "server-%x-%x" % (st.st_dev, st.st_ino)
    except OSError:
        pass
    server, others = None, []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        pid = int(entry)
        try:
            with open("/proc/%d/environ" % pid, "rb") as f:
                env = f.read().split(b"\0")
            exe = os.path.basename(os.readlink("/proc/%d/exe" % pid))
            cwd = os.readlink("/proc/%d/cwd" % pid)
        except OSError:
            continue
        mine = ("WINEPREFIX=" + prefix).encode() in env
        if exe.startswith("wineserver") and (mine or (server_dir and cwd.endswith(server_dir))):
            server = pid
        elif mine and exe.startswith("wine"):
            others.append(pid)
    return server, others


class Runs:
    """Every process started here, killed by pid at the end."""

    def __init__(self, build, watch, prefix):
        self.build = build
        self.watch = watch
        self.prefix = prefix
        self.started = []

    def launch(self, exe, trace=None):
        env = dict(os.environ, WINEPREFIX=self.prefix,
                   WINEDEBUG="+pid,+relay,+timestamp" if trace else "-all")
        err = open(trace, "wb") if trace else subprocess.DEVNULL
        self.watch.pump(0)
        self.watch.reset()
        t0 = now()
        proc = subprocess.Popen([WINE, exe], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=err, env=env)
        if trace:
            err.close()
        proc.pidfd = os.pidfd_open(proc.pid)
        proc.t0 = t0
        self.started.append(proc)
        return proc

    def wait_window(self, proc):
        """(X window, seconds from launch to its MapNotify), or (None, None)."""
        deadline = proc.t0 + WINDOW_TIMEOUT
        while not self.watch.norvane_maps:
            if now() > deadline or self.watch.pump(min(0.5, deadline - now()), [proc.pidfd]):
                return None, None
        window, t = self.watch.norvane_maps[0]
        return window, t - proc.t0

    def click(self, window, point, probe=None):
        """The time of the click's button release, or None. probe, if given,
        is called about every millisecond from the start of the click on."""
        self.watch.pump(0)
        self.watch.releases = []
        origin = self.watch.client_origin(window)
        t_start = now()
        tool = subprocess.Popen(["xdotool", "mousemove", "--window", str(window),
                                 str(origin[0] + point[0]), str(origin[1] + point[1]), "click", "1"],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        self.started.append(tool)
        fd = os.pidfd_open(tool.pid)
        step = 0.001 if probe else CLICK_TIMEOUT
        try:
            deadline = t_start + CLICK_TIMEOUT
            while now() < deadline and not self.watch.pump(min(step, deadline - now()), [fd]):
                if probe:
                    probe()
            # The release may be read just after xdotool ends.
            settle = now() + 0.05
            while now() < settle:
                self.watch.pump(min(step, settle - now()))
                if probe:
                    probe()
        finally:
            os.close(fd)
            self.stop(tool)
        if tool.returncode != 0:
            return None
        if self.watch.xi_opcode is None:
            return t_start
        return self.watch.releases[0] if self.watch.releases else None

    def wait_exit(self, proc, timeout):
        """Exit time, or None on time-out."""
        deadline = now() + timeout
        while now() < deadline:
            if self.watch.pump(deadline - now(), [proc.pidfd]):
                t = now()
                proc.wait(timeout=5)
                return t
        return None

    def idle(self, proc, span):
        """On-CPU ms of the process, the Wine server and the other Wine
        processes of the prefix over span seconds, and how many of those
        others were left out: a process that ended, began or had its number
        taken by another between the two samples was not there for the whole
        span, and its difference would count another's time (once a negative
        sum)."""
        server, others = prefix_processes(self.prefix)
        others = [p for p in others if p != proc.pid]
        sample = lambda: (cpu_ns(proc.pid), cpu_ns(server) if server else None,
                          {p: (start_ticks(p), cpu_ns(p)) for p in others})
        before = sample()
        self.watch.pump(span, [proc.pidfd])
        after = sample()
        if proc.poll() is not None or before[0] is None or after[0] is None:
            return None, None, None, None
        ms = lambda a, b: (b - a) / 1e6 if a is not None and b is not None else None
        whole = [p for p in others if before[2][p][0] is not None and before[2][p][0] == after[2][p][0]
                 and before[2][p][1] is not None and after[2][p][1] is not None]
        helpers = sum(ms(before[2][p][1], after[2][p][1]) for p in whole)
        return ms(before[0], after[0]), ms(before[1], after[1]), helpers, len(others) - len(whole)

    def stop(self, proc):
        if proc.poll() is None:
            try:
                os.kill(proc.pid, signal.SIGKILL)
            except OSError:
                pass
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
        if getattr(proc, "pidfd", None) is not None:
            os.close(proc.pidfd)
            proc.pidfd = None

    def stop_all(self):
        for proc in self.started:
            self.stop(proc)
        self.started = []


# --------------------------------------------------------------------------
# Relay trace markers

TRACE_LINE = re.compile(r"^(\d+\.\d+):([0-9a-f]+):([0-9a-f]+):(.*)$")


def trace_markers(path):
    """Times (seconds, trace clock) of the program's first CreateThread, its
    last SetThreadPriority return and its ExitProcess call, and the total of
    Wine's waits for a window manager."""
    lines = []
    counts = {}
    with open(path, "rb") as f:
        for raw in f:
            m = TRACE_LINE.match(raw.decode("latin-1").rstrip("\r\n"))
            if m:
                lines.append((float(m.group(1)), m.group(2), m.group(3), m.group(4)))
                if m.group(4).startswith("Call "):
                    counts[m.group(2)] = counts.get(m.group(2), 0) + 1
    if not counts:
        return None
    # Helper processes write to the same stream: the program makes the most calls.
    pid = max(counts, key=counts.get)
    marks = {"create": None, "priority": None, "exit": None, "wm_wait": 0.0}
    previous = {}
    for t, p, thread, text in lines:
        if p != pid:
            continue
        if text.startswith("Call KERNEL32.CreateThread(") and marks["create"] is None:
            marks["create"] = t
        elif text.startswith("Ret  KERNEL32.SetThreadPriority("):
            marks["priority"] = t
        elif text.startswith("Call KERNEL32.ExitProcess("):
            marks["exit"] = t
        elif "wait_for_withdrawn_state" in text and thread in previous:
            marks["wm_wait"] += t - previous[thread]
        previous[thread] = t
    return marks


def relay_setup(prefix):
    """Relay tracing of the program's own calls into the system DLLs; the
    settings only matter while WINEDEBUG asks for +relay."""
    key = r"HKCU\Software\Wine\Debug"
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    for args in (["add", key, "/v", "RelayFromInclude", "/t", "REG_SZ", "/d", "Norvane.exe", "/f"],
                 ["add", key, "/v", "RelayInclude", "/t", "REG_SZ", "/d",
                  "kernel32.*;kernelbase.*;user32.*;gdi32.*;winmm.*;comctl32.*", "/f"],
                 ["delete", key, "/v", "RelayExclude", "/f"],
                 ["delete", key, "/v", "RelayFromExclude", "/f"]):
        try:
            subprocess.run([WINE, "reg"] + args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, env=env, timeout=60)
        except subprocess.TimeoutExpired:
            pass


# --------------------------------------------------------------------------
# Rounds

def note(what):
    print("user_bench: %s" % what, file=sys.stderr, flush=True)


def product_round(runs, exe, figures, idle_span):
    """Start to window, idle in the window, the repeat button, idle in the pause."""
    proc = runs.launch(exe)
    try:
        window, start = runs.wait_window(proc)
        figures["start"].append(start)
        if window is None:
            note("%s: no window" % os.path.basename(exe))
            return
        cpu, server, helpers, left = runs.idle(proc, idle_span)
        figures["idle_window"].append(cpu)
        figures["idle_window_server"].append(server)
        figures["idle_window_helpers"].append(helpers)
        figures["idle_window_left"].append(left)
        figures["hwm_window"].append(vm_hwm_kib(proc.pid))
        # Untraced cross-check of the traced figure: a worker thread appears
        # in /proc; the run is over when the thread count is back. Sampled
        # from the click on: the click's own wait for xdotool to end and for
        # its release event to be read would otherwise count as the
        # program's delay.
        threads = thread_count(proc.pid)
        worker = {}

        def sample():
            if "seen" not in worker and thread_count(proc.pid) > threads:
                worker["seen"] = now()
        t_click = runs.click(window, REPEAT_BUTTON, sample)
        if t_click is None:
            note("program: the click on the repeat button was not seen")
            return
        deadline = t_click + RUN_TIMEOUT
        while now() < deadline and proc.poll() is None:
            count = thread_count(proc.pid)
            if "seen" not in worker and count > threads:
                worker["seen"] = now()
            elif "seen" in worker and count <= threads:
                break
            runs.watch.pump(0.001)
        seen = worker.get("seen")
        unmapped = runs.watch.unmaps.get(window)
        figures["unmap"].append(unmapped - t_click if unmapped else None)
        figures["repeat_worker_seen"].append(seen - t_click if seen else None)
        if seen is None or proc.poll() is not None:
            note("program: no worker after the repeat button, or the process ended")
            return
        runs.watch.pump(0.3)  # the launch procedure's last wait, then the pause
        figures["hwm_run"].append(vm_hwm_kib(proc.pid))
        cpu, server, helpers, left = runs.idle(proc, idle_span)
        figures["idle_pause"].append(cpu)
        figures["idle_pause_server"].append(server)
        figures["idle_pause_helpers"].append(helpers)
        figures["idle_pause_left"].append(left)
    finally:
        runs.stop(proc)


def baseline_round(runs, exe, figures, idle_span):
    proc = runs.launch(exe)
    try:
        window, start = runs.wait_window(proc)
        figures["start"].append(start)
        if window is None:
            note("%s: no window" % os.path.basename(exe))
            return
        cpu, server, helpers, left = runs.idle(proc, idle_span)
        figures["idle_window"].append(cpu)
        figures["idle_window_server"].append(server)
        figures["idle_window_helpers"].append(helpers)
        figures["idle_window_left"].append(left)
        figures["hwm_window"].append(vm_hwm_kib(proc.pid))
        # The control for the program's unmap: a bare window closing takes
        # as long under Wine without a window manager.
        t_click = runs.click(window, EXIT_BUTTON)
        if t_click is None:
            note("baseline: the click on EXIT was not seen")
            return
        runs.wait_exit(proc, RUN_TIMEOUT)
        unmapped = runs.watch.unmaps.get(window)
        figures["unmap"].append(unmapped - t_click if unmapped else None)
    finally:
        runs.stop(proc)


def rotated(items, r):
    return items[r % len(items):] + items[:r % len(items)]


def start_samples(runs, exes, count):
    """More start-to-window samples, each program in turn, the order rotating:
    the start is short and the machine noisy, so each round takes the median
    of several."""
    samples = [[] for _ in exes]
    for i in range(count):
        for side, exe in rotated(list(enumerate(exes)), i + 1):
            proc = runs.launch(exe)
            try:
                samples[side].append(runs.wait_window(proc)[1])
            finally:
                runs.stop(proc)
            runs.watch.pump(0.2)
    return samples


def traced_round(runs, exe, work, figures):
    """The run button under the relay trace: click to workers, click to exit."""
    trace = os.path.join(work, "trace.txt")
    # A start without a window is said with its cause and made once more,
    # so that the traced figures are not a round short.
    for attempt in (1, 2):
        proc = runs.launch(exe, trace)
        window, _ = runs.wait_window(proc)
        if window is not None:
            break
        code = proc.poll()
        note("traced program, start %d: no window (%s)" %
             (attempt, "time-out" if code is None else "ended with code %d" % code))
        runs.stop(proc)
        if attempt == 2:
            return
        runs.watch.pump(1.0)
    try:
        runs.watch.pump(0.5)  # the buttons come after the map
        t_click = runs.click(window, RUN_BUTTON)
        if t_click is None:
            note("traced program: the click on the run button was not seen")
            return
        t_exit = runs.wait_exit(proc, RUN_TIMEOUT)
        if t_exit is None:
            note("traced program: still running %g s after the click" % RUN_TIMEOUT)
    finally:
        runs.stop(proc)
    marks = trace_markers(trace)
    if not marks:
        note("traced program: no relay trace")
        return
    since = lambda t: t - t_click if t is not None else None
    figures["run_create"].append(since(marks["create"]))
    figures["run_priority"].append(since(marks["priority"]))
    figures["run_wm_wait"].append(marks["wm_wait"])
    own = marks["priority"] - marks["wm_wait"] if marks["priority"] is not None else None
    figures["run_priority_own"].append(since(own))
    figures["run_exitprocess"].append(since(marks["exit"]))
    figures["run_exit"].append(since(t_exit))


# --------------------------------------------------------------------------
# The table

def stats(values, scale=1.0, digits=0):
    good = [v * scale for v in values if v is not None]
    if not good:
        return "n/a"
    text = "%.*f (%.*f-%.*f)" % (digits, statistics.median(good), digits, min(good), digits, max(good))
    missing = len(values) - len(good)
    return text + (" [%d missing]" % missing if missing else "")


def left_out(product, baseline, key):
    """What the row of the other Wine processes leaves out, when anything."""
    n = sum(v or 0 for side in (product, baseline) if side for v in side[key])
    return " (%d left out: not there for the whole span)" % n if n else ""


def ratios(a, b):
    return [x / y if x is not None and y else None for x, y in zip(a, b)]


def print_table(product, baseline, floor, sizes, rounds, display, click_source, managed):
    width = "PE32 (32-bit)" if IMAGE == "PE32" else "64-bit port"
    print("%s: Norvane.exe (program) against benchmark/baseline.exe (bare window) and"
          " baseline_floor.exe (the whole floor: every system call of the design up to the"
          " window and its buttons, made directly), all %s," % (width, width))
    print("under %s on Xvfb %s %s, one Wine server kept warm;" %
          (WINE, display, "with a window manager" if managed else "WITHOUT a window manager"))
    if WHERE == "guest":
        print("IN THE EMULATED GUEST (QEMU TCG, this host runs no IA-32 code): times are the"
              " emulator's, compare the ratios only;")
    elif IMAGE == "PE32":
        print("natively on this host, from the guest's tree (a chroot with Debian's 32-bit Wine);")
    print("%d rounds after %d warm-up, each: the three in turn, %d more starts of each,"
          " then the program under the relay trace." % (rounds, WARMUP, START_SAMPLES - 1))
    print("Figures: median (min-max) over the rounds; ratios per round, program / bare window and"
          " program / floor. Clicks are timed at %s." % click_source)
    two = lambda key, scale=1.0, digits=2: "%s; %s" % (
        stats(ratios(product[key], baseline[key]), scale, digits), stats(ratios(product[key], floor[key]), scale, digits))
    rows = [
        ("start to window mapped, ms (%d a round)" % START_SAMPLES, stats(product["start"], 1e3, 1),
         "%s; %s" % (stats(baseline["start"], 1e3, 1), stats(floor["start"], 1e3, 1)), two("start"),
         "to floor <= 1.05"),
        ("peak memory in the window, VmHWM KiB", stats(product["hwm_window"]),
         "%s; %s" % (stats(baseline["hwm_window"]), stats(floor["hwm_window"])), two("hwm_window"),
         "to floor <= 1.05"),
        ("peak memory after a run, VmHWM KiB", stats(product["hwm_run"]), "",
         "%s; %s" % (stats(ratios(product["hwm_run"], baseline["hwm_window"]), 1, 2),
                     stats(ratios(product["hwm_run"], floor["hwm_window"]), 1, 2)), ""),
        ("click -> window unmapped, ms (repeat; EXIT)", stats(product["unmap"], 1e3, 1),
         "%s; %s" % (stats(baseline["unmap"], 1e3, 1), stats(floor["unmap"], 1e3, 1)), "", ""),
        ("click repeat -> worker in /proc, untraced, ms", stats(product["repeat_worker_seen"], 1e3, 1),
         "", "", ""),
        ("click run -> first CreateThread, ms", stats(product["run_create"], 1e3, 1), "", "", ""),
        ("click run -> last SetThreadPriority, ms", stats(product["run_priority"], 1e3, 1), "", "", ""),
        ("  Wine's wait for a window manager, ms", stats(product["run_wm_wait"], 1e3, 1), "", "", ""),
        ("  the same less that wait, ms", stats(product["run_priority_own"], 1e3, 1), "", "", ""),
        ("click run -> ExitProcess call, ms", stats(product["run_exitprocess"], 1e3, 1), "", "", ""),
        ("click run -> process gone, ms", stats(product["run_exit"], 1e3, 1), "", "", "< 600"),
        ("idle CPU, %gs in the window, ms" % IDLE_SPAN, stats(product["idle_window"], 1, 2),
         stats(baseline["idle_window"], 1, 2), "", "program 0"),
        ("  wineserver over the same span, ms", stats(product["idle_window_server"], 1, 2),
         stats(baseline["idle_window_server"], 1, 2), "", ""),
        ("  other Wine processes, same span, ms" + left_out(product, baseline, "idle_window_left"),
         stats(product["idle_window_helpers"], 1, 2), stats(baseline["idle_window_helpers"], 1, 2), "", ""),
        ("idle CPU, %gs of the repeat pause, ms" % IDLE_SPAN, stats(product["idle_pause"], 1, 2), "", "",
         "program 0"),
        ("  wineserver over the same span, ms", stats(product["idle_pause_server"], 1, 2), "", "", ""),
        ("  other Wine processes, same span, ms" + left_out(product, None, "idle_pause_left"),
         stats(product["idle_pause_helpers"], 1, 2), "", "", ""),
    ]
    widths = [46, 26, 48, 38]
    header = ("figure", "program", "bare window; floor", "ratio to bare; to floor", "target")
    print("".join(h.ljust(w) for h, w in zip(header, widths)) + header[-1])
    for row in rows:
        print("".join(c.ljust(w) for c, w in zip(row, widths)) + row[-1])
    for label, key in (("start to window", "start"), ("peak memory in the window", "hwm_window")):
        for against, side in (("bare window", baseline), ("floor", floor)):
            each = ratios(product[key], side[key])
            print("per-round ratios to the %s, %s: %s" %
                  (against, label, " ".join("%.2f" % r if r is not None else "n/a" for r in each)))
    for form, size in sizes:
        design = design_bytes(form)
        if size is None:
            print("size, %s: not built" % form)
            continue
        print("size, stripped %-4s %8d bytes; the design's blocks %d bytes (%.1f KiB);"
              " overhead %.1f KiB" % (form, size, design, design / 1024, (size - design) / 1024))


def main():
    if len(sys.argv) != 3:
        print(__doc__.splitlines()[2].strip(), file=sys.stderr)
        return 2
    build = os.path.abspath(sys.argv[1])
    pe32 = sys.argv[2]
    display_file = os.path.join(build, "test-env", "display")
    if os.path.exists(display_file):
        with open(display_file) as f:
            os.environ["DISPLAY"] = f.read().strip()
    prefix = os.environ.get("WINEPREFIX") if IMAGE == "PE32" else os.path.join(build, "wine-prefix")
    program = os.path.join(build, "Norvane.exe")
    baseline = os.path.join(build, "benchmark", "baseline.exe")
    floor_exe = os.path.join(build, "benchmark", "baseline_floor.exe")
    work = os.path.join(build, "user-bench")
    os.makedirs(work, exist_ok=True)

    def terminate(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, terminate)

    relay_setup(prefix)
    watch = XWatch()
    runs = Runs(build, watch, prefix)
    names = ["start", "hwm_window", "hwm_run", "idle_window", "idle_window_server", "idle_window_helpers",
             "idle_pause", "idle_pause_server", "idle_pause_helpers", "idle_window_left", "idle_pause_left", "unmap", "repeat_worker_seen",
             "run_create", "run_priority", "run_wm_wait", "run_priority_own", "run_exitprocess", "run_exit"]
    product = {n: [] for n in names}
    base = {n: [] for n in names}
    floor = {n: [] for n in names}
    managed = watch.window_manager()
    if not managed:
        note("no window manager on %s: Wine waits for one at every hide" % os.environ["DISPLAY"])
    try:
        for r in range(WARMUP + ROUNDS):
            warm = r < WARMUP
            sides = [({n: [] for n in names} if warm else figures, exe, run)
                     for figures, exe, run in ((product, program, product_round), (base, baseline, baseline_round),
                                               (floor, floor_exe, baseline_round))]
            span = 1.0 if warm else IDLE_SPAN
            print("user_bench: %s %d/%d" % ("warm-up" if warm else "round", r + 1 - (0 if warm else WARMUP),
                                            WARMUP if warm else ROUNDS), file=sys.stderr, flush=True)
            # Keep the rows of the three aligned for the per-round ratios.
            before = [{n: len(f[n]) for n in names} for f, _, _ in sides]
            for f, exe, run in rotated(sides, r):
                run(runs, exe, f, span)
            extra = start_samples(runs, [exe for _, exe, _ in sides], START_SAMPLES - 1)
            for (side, _, _), counts, more in zip(sides, before, extra):
                first = side["start"].pop() if len(side["start"]) > counts["start"] else None
                good = [v for v in [first] + more if v is not None]
                side["start"].append(statistics.median(good) if good else None)
            traced_round(runs, program, work, sides[0][0])
            for (side, _, _), start in zip(sides, before):
                for n in names:
                    if len(side[n]) == start[n]:
                        side[n].append(None)
    except KeyboardInterrupt:
        print("user_bench: interrupted", file=sys.stderr)
        return 1
    finally:
        runs.stop_all()
        watch.close()

    sizes = []
    if pe32 != "-":
        for form, path in (("PE32", pe32), ("port", program)):
            sizes.append((form, os.path.getsize(path) if os.path.exists(path) else None))
    click_source = "the X server's raw button release" if watch.xi_opcode is not None else \
        "the start of xdotool (no XInput 2)"
    print_table(product, base, floor, sizes, ROUNDS, os.environ["DISPLAY"], click_source, managed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
