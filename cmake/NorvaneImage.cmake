# Links a Norvane executable image.
#
# The entry routine is MainSequence itself: no C runtime start-up code runs,
# so the image needs nothing but the Windows system DLLs. Release images are
# stripped and reproducible (no link timestamp, no build paths). A link map
# beside the image names the routines for the image tests.
#
# Code padding: the linker fills the gaps between code pieces with int3 (CC)
# (the worker routine pads its own page with CC as well, and the code in
# front of it closes with CC; the compiler's alignment inside other functions
# stays no-op padding); the script is the toolchain's own default script with
# only that fill added.
#
# Stack: every thread's reservation is the image's default, 1 MiB (the
# linker would make it 2 MiB); 4096 bytes are committed at creation.
#
# Flags for the loader: terminal-server aware (the program wants no private
# Windows folder or mapped INI files on a terminal server), and on the PE32
# no structured exception handlers: the code never installs a frame through
# fs:0, so the system calls no handler inside the image, whatever a
# corrupted stack names. The linker's own defaults stay: relocations with
# dynamic base, NX compatible, high-entropy addresses on the port.
#
# Manifest: resources/norvane.rc embeds NORVANE_MANIFEST, the image's
# application manifest, written here from resources/norvane.manifest with
# the project's version and the image's processor. Windows' names for the
# processors: x86 for the PE32, amd64 for the port.

set(NORVANE_LINK_SCRIPT ${CMAKE_BINARY_DIR}/norvane-link.x)
if(NOT EXISTS ${NORVANE_LINK_SCRIPT})
    execute_process(COMMAND ${NORVANE_TRIPLE}-ld --verbose
        OUTPUT_VARIABLE _ld_verbose RESULT_VARIABLE _ld_rc)
    if(NOT _ld_rc EQUAL 0)
        message(FATAL_ERROR "cannot read the default linker script of ${NORVANE_TRIPLE}-ld")
    endif()
    string(REGEX MATCH "\n=+\n(.*)\n=+\n" _ignored "${_ld_verbose}")
    set(_script "${CMAKE_MATCH_1}")
    string(REGEX REPLACE "(\n  \\.text [^\n]*\n  {\n)" "\\1    FILL(0xcccccccc)\n" _script "${_script}")
    string(FIND "${_script}" "FILL(0xcccccccc)" _found)
    if(_found EQUAL -1)
        message(FATAL_ERROR "the default linker script has no .text section in the expected form")
    endif()
    file(WRITE ${NORVANE_LINK_SCRIPT} "${_script}\n")
endif()

if(NORVANE_PORT)
    set(NORVANE_ENTRY MainSequence)
    set(NORVANE_MANIFEST_ARCHITECTURE amd64)
    set(NORVANE_LOADER_FLAGS -Wl,--tsaware)
else()
    set(NORVANE_ENTRY _MainSequence)
    set(NORVANE_MANIFEST_ARCHITECTURE x86)
    set(NORVANE_LOADER_FLAGS -Wl,--tsaware -Wl,--no-seh)
endif()
set(NORVANE_MANIFEST_DIR ${CMAKE_BINARY_DIR}/resources)
set(NORVANE_MANIFEST ${NORVANE_MANIFEST_DIR}/norvane-image.manifest)
configure_file(${CMAKE_SOURCE_DIR}/resources/norvane.manifest ${NORVANE_MANIFEST} @ONLY)
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/norvane.rc PROPERTIES
    OBJECT_DEPENDS ${NORVANE_MANIFEST})

function(norvane_add_image name)
    add_executable(${name} WIN32 ${ARGN})
    target_link_libraries(${name} PRIVATE norvane_runtime norvane_flags)
    target_include_directories(${name} PRIVATE $<$<COMPILE_LANGUAGE:RC>:${NORVANE_MANIFEST_DIR}>)
    target_link_options(${name} PRIVATE
        -nostartfiles -Wl,-e,${NORVANE_ENTRY}
        -static -static-libgcc -static-libstdc++
        -Wl,--no-insert-timestamp
        -Wl,--stack=0x100000
        ${NORVANE_LOADER_FLAGS}
        -Wl,-T,${NORVANE_LINK_SCRIPT}
        -Wl,-Map=$<TARGET_FILE_DIR:${name}>/${name}.map
        $<$<CONFIG:Release>:-s>)
    set_target_properties(${name} PROPERTIES LINK_DEPENDS ${NORVANE_LINK_SCRIPT})
endfunction()
