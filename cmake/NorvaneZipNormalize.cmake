# CPack post-build script: makes each archive of this run reproducible
# (cmake/norvane_zip.py).
foreach(_archive ${CPACK_PACKAGE_FILES})
    execute_process(COMMAND python3 ${CPACK_NORVANE_ZIP_TOOL} ${_archive} ${CPACK_NORVANE_PACKAGE_TIME}
        RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "could not make ${_archive} reproducible (python3 ${CPACK_NORVANE_ZIP_TOOL})")
    endif()
endforeach()
