#!/usr/bin/env bash
# Faulty copies of a Norvane.exe (the PE32 or the port) that the checks must
# catch:
#   OUTDIR/int3/Norvane.exe      the first byte of WorkerRoutine is int3 (CC),
#                                so every worker traps
#   OUTDIR/text/Norvane.exe      the run button reads "Run Norvane" (one byte)
#   OUTDIR/nullwrite/Norvane.exe the launch no longer tests the worker table it
#                                allocated: a failed allocation is written
#                                through (for the fault sweep, FAULT_ONLY=HeapAlloc)
#
#   mutants.sh IMAGE OUTDIR [COMMAND...]
#
# MUTANTS names the copies a COMMAND runs against (default "int3 text").
# The link map beside IMAGE (Norvane.map) places WorkerRoutine. With a
# COMMAND, runs it for each copy, the copy's path in place of an argument {}
# or else appended, and expects FAIL lines and a non-zero exit code; prints
# one ok/FAIL line per mutant and exits 1 when a mutant passed.
set -u
[ $# -ge 2 ] || { sed -n '2,/^set -u/p' "$0" | sed 's/^# \{0,1\}//; $d'; exit 2; }
image=$1
out=$2
shift 2
mkdir -p "$out/int3" "$out/text" "$out/nullwrite"
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

found = re.search(r"^\s+0x([0-9a-f]+)\s+_?WorkerRoutine(@4)?$", open(map_path).read(), re.M)
if not found:
    sys.exit("no WorkerRoutine in " + map_path)
worker = file_offset(int(found.group(1), 16))
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
def routine(name):
    found = re.search(r"^\s+0x([0-9a-f]+)\s+_?" + re.escape(name) + r"$", open(map_path).read(), re.M)
    if not found:
        sys.exit("no %s in %s" % (name, map_path))
    return int(found.group(1), 16)
launch, create = routine("LaunchWorkers()"), routine("ArrayCreate(unsigned int, unsigned int, unsigned int, ElementLayout const*, void*)")
at = file_offset(launch)
for i in range(at, at + 0x100):
    if data[i] == 0xE8 and launch + (i - at) + 5 + struct.unpack_from("<i", data, i + 1)[0] == create:
        test = data.find(b"\x0f\x84", i + 5, i + 40)
        break
else:
    sys.exit("no call of ArrayCreate in LaunchWorkers")
if test < 0:
    sys.exit("no test of the worker table after ArrayCreate")
unchecked = bytearray(data)
unchecked[test:test + 6] = b"\x90" * 6
open(out + "/nullwrite/Norvane.exe", "wb").write(unchecked)
print("int3 at file offset %#x (WorkerRoutine, was %02X); text changed at %#x; table test removed at %#x"
      % (worker, data[worker], text + 4, test))
PY
[ $# -eq 0 ] && exit 0

bad=0
for mutant in ${MUTANTS:-int3 text}; do
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
