#!/usr/bin/env bash
# Start-up and shutdown of the real 64-bit Norvane.exe, read from Wine's relay
# trace of its main thread: the three private heaps and the three TLS slots in
# their places, every library loaded by its full path in the system folder
# (the multimedia and common-controls libraries first of all, in place of
# imports, and kept), the imaging library kept from start-up to the end path,
# the common-controls and theme libraries loaded and freed once more by the
# probe (the theme library's only a reference more: the loader's own trace
# shows it loaded before and never unloaded), the common-control classes 0xB48, the hidden event window destroyed
# after the fonts, and ExitProcess(0) as the very last call. Once ended through the
# EXIT button (window, buttons and fonts left to the end routines) and once
# after a single run (nothing left for them).
#
# Usage: start_end_trace_test.sh BUILD_DIR
. "$(dirname "$0")/../../e2e/lib.sh" "$1"
relay_setup

for way in exit run; do
    # +commctrl adds comctl32's own note of the classes it was asked for,
    # +loaddll the loader's of each library it maps and unmaps.
    WINEDEBUG=+pid,+relay,+commctrl,+loaddll $WINE "$NORVANE" </dev/null >/dev/null 2>"$WORK/trace.raw" &
    NORVANE_PID=$!
    check "$way: the window appears" wait_window
    case $way in
        exit) give click_exit ;;
        run) give click_run ;;
    esac
    wait_exit 30
    check "$way: exit code 0" [ "$EXIT_CODE" -eq 0 ]
    [ "$EXIT_CODE" -eq 124 ] && stop_norvane

    # One line per finding: "ok <what>" or "FAIL <what>: <detail>".
    python3 - "$WORK/trace.raw" "$way" >"$WORK/findings.txt" <<'PY'
import re, sys
from collections import Counter

raw = open(sys.argv[1], encoding="latin-1").read().splitlines()
way = sys.argv[2]
line_re = re.compile(r"^([0-9a-f]+):([0-9a-f]+):(Call|Ret)\s+([\w.]+)\((.*)\) (?:retval=([0-9a-f]+) )?ret=")

# The program is the process with the most calls; its main thread is the
# first one that calls.
pids = Counter(m.group(1) for m in map(line_re.match, raw) if m)
pid = pids.most_common(1)[0][0] if pids else None
main = None
calls = []   # [name, args, retval], name as "KERNEL32.HeapCreate"
stack = []
commctrl = []
mapped = []  # [calls of the main thread so far, loader's line]
for text in raw:
    if pid and text.startswith(pid + ":") and ":trace:commctrl:InitCommonControlsEx" in text:
        commctrl.append(text.rsplit(" ", 1)[-1])
    if pid and text.startswith(pid + ":") and ":trace:loaddll:" in text:
        mapped.append((len(calls), text))
    m = line_re.match(text)
    if not m or m.group(1) != pid:
        continue
    if main is None:
        main = m.group(2)
    if m.group(2) != main:
        continue
    dll, _, fn = m.group(4).partition(".")
    name = dll.upper() + "." + fn
    if m.group(3) == "Call":
        calls.append([name, m.group(5), None])
        stack.append(len(calls) - 1)
    elif stack:
        calls[stack.pop()][2] = m.group(6)

def num(text):
    """A handle or integer from the trace, low 32 bits (the port's upper
    halves may carry garbage)."""
    return int(text.split()[0], 16) & 0xFFFFFFFF

def args(i):
    return [a.strip() for a in calls[i][1].split(",")] if calls[i][1] else []

def where(name, pred=lambda i: True):
    return [i for i, c in enumerate(calls) if c[0] == name and pred(i)]

def with_text(text):
    return lambda i: '"%s"' % text in calls[i][1]

def loads(dll):
    """LoadLibraryExA of the full path of dll in the system folder, with
    LOAD_WITH_ALTERED_SEARCH_PATH."""
    path = re.compile(r'"[a-z]:(\\\\[^"\\]+)*\\\\system32\\\\' + re.escape(dll.lower()) + '"')
    return lambda i: args(i) and path.search(args(i)[0].lower()) and num(args(i)[2]) == 8

def with_first(value):
    return lambda i: args(i) and num(args(i)[0]) == value

def retval(i):
    return num(calls[i][2]) if calls[i][2] else None

results = []
def check(what, ok, detail=""):
    results.append(("ok   " if ok else "FAIL ") + what + ("" if ok else ": " + detail))

def one(what, found):
    check(what + " (once)", len(found) == 1, "found %d times" % len(found))
    return found[0] if found else None

def before(*positions):
    return all(p is not None for p in positions) and list(positions) == sorted(positions) \
        and len(set(positions)) == len(positions)

check("trace of the program's main thread", len(calls) > 50, "%d calls" % len(calls))
if len(calls) <= 50:
    print("\n".join(results)); sys.exit()

# Heaps: main (right after the instance handle), string, spare.
heaps = where("KERNEL32.HeapCreate")
check("three HeapCreate(0, 4096, 0)", len(heaps) == 3 and
      all([num(a) for a in args(i)] == [0, 4096, 0] for i in heaps), str([calls[i][1] for i in heaps]))
slots = where("KERNEL32.TlsAlloc")
check("three TlsAlloc", len(slots) == 3, "found %d" % len(slots))
if len(heaps) != 3 or len(slots) != 3:
    print("\n".join(results)); sys.exit()
module_at = where("KERNEL32.GetModuleHandleA")
check("main heap right after the instance handle", module_at and heaps[0] == module_at[0] + 1)
check("string heap, then its slot", heaps[1] < slots[0])
slot_values = [retval(i) for i in slots]
check("slots in allocation order string < per-thread data < spare",
      None not in slot_values and slot_values == sorted(slot_values), str(slot_values))
check("string record stored in the first slot",
      calls[slots[0] + 1][0] == "KERNEL32.TlsSetValue" and num(args(slots[0] + 1)[0]) == slot_values[0])

event_window = one("hidden event window made", where("USER32.CreateWindowExA", with_text("PostEventClass")))
check("event service between the string slot and the per-thread data slot",
      before(slots[0], event_window, slots[1]))
check("spare heap after the spare slot", before(slots[2], heaps[2]))

# No library by bare name: every load names its full path in the system
# folder, on every thread of the program.
loaders = [t.split("Call ", 1)[1][:160] for t in raw if pid and t.startswith(pid + ":")
           and re.search(r":Call KERNEL32\.LoadLibrary(A|W|ExW)\(", t)]
check("no LoadLibraryA, LoadLibraryW or LoadLibraryExW", not loaders, str(loaders[:3]))
loads_all = where("KERNEL32.LoadLibraryExA")
bare = [calls[i][1][:120] for i in loads_all if not re.search(r"\\\\system32\\\\", calls[i][1].lower())
        or num(args(i)[2]) != 8]
check("every LoadLibraryExA names the system folder, with flag 8", loads_all and not bare, str(bare[:3]))

# Bare names searched for in the system folder only, before any other load.
narrowed = where("KERNEL32.SetDefaultDllDirectories", lambda i: args(i) and num(args(i)[0]) == 0x800)
check("SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) before the second load",
      narrowed and len(loads_all) > 1 and narrowed[0] < loads_all[1], "%s %s" % (narrowed, loads_all[:2]))

# In place of imports, before the instance handle: winmm and comctl32, kept.
timer = where("KERNEL32.LoadLibraryExA", loads("winmm.dll"))
controls_at_start = where("KERNEL32.LoadLibraryExA", loads("COMCTL32.DLL"))
check("winmm.dll, then COMCTL32.DLL loaded before the instance handle",
      timer and controls_at_start and module_at and before(timer[0], controls_at_start[0], module_at[0]),
      "%s %s %s" % (timer, controls_at_start, module_at))
for at, dll, entry in ((timer, "winmm.dll", "timeBeginPeriod"),
                       (controls_at_start, "COMCTL32.DLL", "InitCommonControlsEx")):
    handle = retval(at[0]) if at else None
    looked_up = where("KERNEL32.GetProcAddress", lambda i: with_text(entry)(i) and with_first(handle)(i))
    # Every later load of the library is freed again; the first reference stays.
    frees = len(where("KERNEL32.FreeLibrary", with_first(handle)))
    check('"%s" looked up in %s, which stays loaded' % (entry, dll),
          at and looked_up and frees == len(where("KERNEL32.LoadLibraryExA", loads(dll))) - 1,
          "looked up %s, freed %d times" % (looked_up, frees))

# Libraries of the probe.
imaging = one('msimg32.dll loaded', where("KERNEL32.LoadLibraryExA", loads("msimg32.dll")))
check("spare heap before the imaging library", before(heaps[2], imaging))
imaging_handle = retval(imaging) if imaging is not None else None
alpha = where("KERNEL32.GetProcAddress", lambda i: with_text("AlphaBlend")(i) and with_first(imaging_handle)(i))
check('"AlphaBlend" looked up in it', imaging is not None and alpha and alpha[0] == imaging + 1)
version = one("GetVersionExA", where("KERNEL32.GetVersionExA"))
freed = {}
loaded = {}
for dll, entry in (("COMCTL32.DLL", "DllGetVersion"), ("uxtheme.dll", "IsAppThemed")):
    loaded[dll] = one('%s loaded by the probe' % dll, where("KERNEL32.LoadLibraryExA",
                      lambda i: loads(dll)(i) and (version is not None and i > version)))
    handle = retval(loaded[dll]) if loaded[dll] is not None else None
    one('"%s" looked up' % entry, where("KERNEL32.GetProcAddress",
                                        lambda i: with_text(entry)(i) and with_first(handle)(i)))
    frees = where("KERNEL32.FreeLibrary", with_first(handle))
    after = [i for i in frees if loaded[dll] is not None and i > loaded[dll]]
    freed[dll] = after[0] if after else None
    check('"%s" freed once, right after its question' % dll,
          len(after) == 1 and freed[dll] - loaded[dll] <= 3, str(after))
check("probe order: imaging library, version, common controls, theme",
      before(alpha[0] if alpha else None, version, loaded["COMCTL32.DLL"], freed["COMCTL32.DLL"],
             loaded["uxtheme.dll"], freed["uxtheme.dll"]))

# A system library loads the theme library by bare name as the common
# controls start; by the probe's turn it is loaded, and stays so.
theme_mapped = [n for n, t in mapped if re.search(r'Loaded L"[^"]*\\uxtheme\.dll"', t, re.I)]
theme_unmapped = [n for n, t in mapped if re.search(r'Unloaded module L"[^"]*\\uxtheme\.dll"', t, re.I)]
check("the probe's uxtheme.dll only a reference more: loaded before, never unloaded",
      loaded["uxtheme.dll"] is not None and len(theme_mapped) == 1
      and theme_mapped[0] <= loaded["uxtheme.dll"] and not theme_unmapped,
      "mapped at %s, unmapped at %s, probe's load %s" % (theme_mapped, theme_unmapped, loaded["uxtheme.dll"]))

controls = one("InitCommonControlsEx", where("COMCTL32.InitCommonControlsEx"))
check("InitCommonControlsEx with the classes 0xB48", commctrl == ["0xb48"], str(commctrl))
check("common controls after the probe", before(freed["uxtheme.dll"], controls))

# The end path.
window_2_gone = where("USER32.UnregisterClassA", with_text("WindowClass_2"))
imaging_freed = where("KERNEL32.FreeLibrary", with_first(imaging_handle))
check("imaging library freed once", len(imaging_freed) == 1, str(imaging_freed))
fonts = [retval(i) for i in where("GDI32.CreateFontA")]
check("two fonts made", len(fonts) == 2, str(fonts))
font_deletes = [where("GDI32.DeleteObject", with_first(f)) for f in fonts]
check("each font deleted once", all(len(d) == 1 for d in font_deletes), str(font_deletes))
last_font = max(d[0] for d in font_deletes) if all(font_deletes) else None
event_gone = where("USER32.DestroyWindow", with_first(retval(event_window))) if event_window is not None else []
check("hidden event window destroyed once", len(event_gone) == 1, str(event_gone))
event_gone = event_gone[0] if event_gone else None
if way == "exit":
    # The window, its buttons and the fonts are still there for the end routines.
    check("window closed, then imaging library freed, then fonts deleted, then the event window",
          window_2_gone and imaging_freed and before(window_2_gone[0], imaging_freed[0], last_font, event_gone),
          "window %s, library %s, last font %s, event window %s" % (window_2_gone, imaging_freed, last_font, event_gone))
else:
    # The control window released its window and fonts before the workers.
    check("fonts and window gone before the end path",
          window_2_gone and imaging_freed and before(last_font, window_2_gone[0], imaging_freed[0], event_gone))

ending = [(c[0], num(args(len(calls) - 5 + k)[0]) if args(len(calls) - 5 + k) else None)
          for k, c in enumerate(calls[-5:])]
expected = [("KERNEL32.HeapDestroy", retval(heaps[2])), ("KERNEL32.HeapDestroy", retval(heaps[1])),
            ("KERNEL32.TlsFree", slot_values[0]), ("KERNEL32.HeapDestroy", retval(heaps[0])),
            ("KERNEL32.ExitProcess", 0)]
check("last calls: spare heap, string heap, string slot, main heap, ExitProcess(0)",
      ending == expected, "got %s" % ending)
check("the spare heap goes after the event window", event_gone is not None and event_gone < len(calls) - 5)
check("TlsFree only for the string slot", len(where("KERNEL32.TlsFree")) == 1)
print("\n".join(results))
PY
    while IFS= read -r finding; do
        check "$way: ${finding:5}" [ "${finding:0:2}" = ok ]
    done <"$WORK/findings.txt"
    [ -s "$WORK/findings.txt" ] || check "$way: trace analysed" false
done
finish
