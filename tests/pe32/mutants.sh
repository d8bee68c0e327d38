#!/usr/bin/env bash
# Faulty copies of a Norvane.exe (the PE32 or the port) that the checks must
# catch:
#   OUTDIR/int3/Norvane.exe      the first byte of WorkerRoutine is int3 (CC),
#                                so every worker traps
#   OUTDIR/text/Norvane.exe      the run button reads "Run Norvane" (one byte)
#   OUTDIR/count/Norvane.exe     the start loop of LaunchWorkers goes on while
#                                i <= n instead of i < n (jl made jle): n
#                                workers instead of n - 1 (still 1 for n = 1)
#   OUTDIR/nullwrite/Norvane.exe the launch no longer tests the worker table it
#                                allocated: a failed allocation is written
#                                through (for tests/faults/fault_sweep.sh with
#                                FAULT_ONLY=HeapAlloc; not among the defaults)
#   OUTDIR/bare/Norvane.exe      SystemLibraryLoad loads by bare name
#                                (LoadLibraryExA(name, NULL, 0)) and the
#                                look-up of SetDefaultDllDirectories finds
#                                nothing, as on a Windows without it (for
#                                tests/e2e/planted_library_test.sh; not among
#                                the defaults)
#   OUTDIR/unnarrowed/Norvane.exe only the look-up of SetDefaultDllDirectories
#                                finds nothing (likewise)
#
#   mutants.sh IMAGE OUTDIR [COMMAND...]
#
# The link map beside IMAGE (Norvane.map) places WorkerRoutine and
# LaunchWorkers. With a COMMAND, runs it for each copy (MUTANTS chooses
# which, default int3 text count), the copy's path in place of an argument {} or
# else appended, and expects FAIL lines and a non-zero exit code; prints one
# ok/FAIL line per mutant and exits 1 when a mutant passed.
set -u
[ $# -ge 2 ] || { sed -n '2,/^set -u/p' "$0" | sed 's/^# \{0,1\}//; $d'; exit 2; }
image=$1
out=$2
shift 2
mkdir -p "$out/int3" "$out/text" "$out/count" "$out/nullwrite" "$out/bare" "$out/unnarrowed"
python3 - "$image" "${image%.exe}.map" "$out" <<'PY' || exit 1
import re, struct, sys
image, map_path, out = sys.argv[1:]
data = bytearray(open(image, "rb").read())

# File offset of a virtual address, from the PE section table.
pe = struct.unpack_from("<I", data, 0x3C)[0]
sections, optional_size = struct.unpack_from("<HH", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
magic = struct.unpack_from("<H", data, pe + 24)[0]
base = struct.unpack_from("<Q" if magic == 0x20B else "<I", data, pe + 24 + (24 if magic == 0x20B else 28))[0]
def file_offset(address):
    rva = address - base
    for i in range(sections):
        at = pe + 24 + optional_size + 40 * i
        size, start, _, raw = struct.unpack_from("<IIII", data, at + 8)
        if start <= rva < start + size:
            return raw + rva - start
    sys.exit("address %#x is in no section" % address)

def address(pattern):
    found = re.search(r"^\s+0x([0-9a-f]+)\s+" + pattern + "$", open(map_path).read(), re.M)
    if not found:
        sys.exit("no %s in %s" % (pattern, map_path))
    return int(found.group(1), 16)

def symbol(pattern):
    return file_offset(address(pattern))

# The start loop's test is the procedure's first backward jl (its wait
# loop's comes later): near 0F 8C rel32 or short 7C rel8.
launch = symbol(r"_?LaunchWorkers\(\)")
counting = bytearray(data)
for at in range(launch, launch + 0x400):
    if data[at] == 0x0F and data[at + 1] == 0x8C and struct.unpack_from("<i", data, at + 2)[0] < 0:
        counting[at + 1] = 0x8E
        break
    if data[at] == 0x7C and struct.unpack_from("<b", data, at + 1)[0] < 0:
        counting[at] = 0x7E
        break
else:
    sys.exit("no backward jl in LaunchWorkers")
open(out + "/count/Norvane.exe", "wb").write(counting)

worker = symbol(r"_?WorkerRoutine(@4)?")
if data[worker] == 0xCC:
    sys.exit("WorkerRoutine already starts with int3")
trapping = bytearray(data)
trapping[worker] = 0xCC
open(out + "/int3/Norvane.exe", "wb").write(trapping)

text = data.find(b"Run norvane\0")
if text < 0 or data.find(b"Run norvane\0", text + 1) >= 0:
    sys.exit('"Run norvane" is not in the image exactly once')
renamed = bytearray(data)
renamed[text + 4] = ord("N")
open(out + "/text/Norvane.exe", "wb").write(renamed)

# The first "je rel32" after LaunchWorkers' call of ArrayCreate is the test
# of the table it made; six no-ops in its place.
create = symbol(re.escape("ArrayCreate(unsigned int, unsigned int, unsigned int, ElementLayout const*, void*)"))
for call in range(launch, launch + 0x100):
    if data[call] == 0xE8 and call + 5 + struct.unpack_from("<i", data, call + 1)[0] == create:
        test = data.find(b"\x0f\x84", call + 5, call + 40)
        break
else:
    sys.exit("no call of ArrayCreate in LaunchWorkers")
if test < 0:
    sys.exit("no test of the worker table after ArrayCreate")
unchecked = bytearray(data)
unchecked[test:test + 6] = b"\x90" * 6
open(out + "/nullwrite/Norvane.exe", "wb").write(unchecked)

# The look-up's name made one the system lacks; then SystemLibraryLoad's
# first bytes replaced by a load of the bare name it was given.
narrow = data.find(b"SetDefaultDllDirectories\0")
if narrow < 0 or data.find(b"SetDefaultDllDirectories\0", narrow + 1) >= 0:
    sys.exit('"SetDefaultDllDirectories" is not in the image exactly once')
unnarrowed = bytearray(data)
unnarrowed[narrow + 23] = ord("Z")
open(out + "/unnarrowed/Norvane.exe", "wb").write(unnarrowed)
load_address = address(re.escape("SystemLibraryLoad(char const*)"))
load = file_offset(load_address)
slot = address(r"_?_imp__?LoadLibraryExA(@12)?")
if magic == 0x20B:
    # xor edx, edx; xor r8d, r8d; jmp [rip + slot]: the name is already in rcx.
    at_jump = load_address + 5
    stub = b"\x31\xd2\x45\x31\xc0\xff\x25" + struct.pack("<i", slot - (at_jump + 6))
else:
    # push 0; push 0; push [esp + 12]; call [slot]; ret
    stub = b"\x6a\x00\x6a\x00\xff\x74\x24\x0c\xff\x15" + struct.pack("<I", slot) + b"\xc3"
bare = bytearray(unnarrowed)
bare[load:load + len(stub)] = stub
open(out + "/bare/Norvane.exe", "wb").write(bare)
print("int3 at file offset %#x (WorkerRoutine, was %02X); text changed at %#x; jl made jle at %#x;"
      " table test removed at %#x; bare loads at %#x" % (worker, data[worker], text + 4, at, test, load))
PY
[ $# -eq 0 ] && exit 0

bad=0
for mutant in ${MUTANTS:-int3 text count}; do
    command=()
    for arg in "$@"; do [ "$arg" = "{}" ] && command+=("$out/$mutant/Norvane.exe") || command+=("$arg"); done
    [[ " $* " == *" {} "* ]] || command+=("$out/$mutant/Norvane.exe")
    "${command[@]}" >"$out/$mutant.log" 2>&1
    rc=$?
    fails=$(grep -c '^FAIL ' "$out/$mutant.log")
    if [ "$rc" -ne 0 ] && [ "$fails" -gt 0 ]; then
        echo "ok   mutant $mutant caught: exit code $rc, $fails FAIL lines"
    else
        echo "FAIL mutant $mutant passed: exit code $rc, $fails FAIL lines (see $out/$mutant.log)"
        bad=1
    fi
    grep '^FAIL ' "$out/$mutant.log" | sed 's/^/       /'
done
exit $bad
