# Host-side tests registered in the win32 preset's CTest run. Included from
# tests/CMakeLists.txt with NORVANE_HOST_BIN, NORVANE_PORT_IMAGE and NORVANE_PORT_MAP set; the
# image under test is the PE32 Norvane.exe of this build, with its link map,
# and the port's image beside it for the tests of both images.
add_test(NAME host_image_tests
    COMMAND ${NORVANE_HOST_BIN}/host_image_tests
        --image=$<TARGET_FILE:Norvane> --map=$<TARGET_FILE_DIR:Norvane>/Norvane.map
        --port-image=${NORVANE_PORT_IMAGE} --port-map=${NORVANE_PORT_MAP})

# The register contract of every atom, the sweep, the cycle and the blocks,
# run under qemu-i386.
find_program(NORVANE_QEMU_I386 qemu-i386 REQUIRED)
add_test(NAME exercise_registers COMMAND ${NORVANE_QEMU_I386} ${NORVANE_HOST_BIN}/register_harness)
set_tests_properties(exercise_registers PROPERTIES TIMEOUT 300)
