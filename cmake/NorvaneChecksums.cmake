# Writes SHA256SUMS.txt in DIR for FILES (names inside DIR, separated by
# commas), in the form sha256sum -c reads: "<hash> *<name>", one line each,
# in the order given.
#   cmake -DDIR=... -DFILES=a,b -P NorvaneChecksums.cmake
string(REPLACE "," ";" _names "${FILES}")
set(_lines "")
foreach(_name ${_names})
    file(SHA256 "${DIR}/${_name}" _hash)
    string(APPEND _lines "${_hash} *${_name}\r\n")
endforeach()
file(WRITE "${DIR}/SHA256SUMS.txt" "${_lines}")
