# The product: a PE32 image for IA-32 Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(NORVANE_TRIPLE i686-w64-mingw32)
# The -posix compilers: GoogleTest needs their thread model, and one
# compiler family for product and tests keeps the builds comparable.
set(CMAKE_C_COMPILER   ${NORVANE_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NORVANE_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${NORVANE_TRIPLE}-windres)
set(CMAKE_OBJCOPY      ${NORVANE_TRIPLE}-objcopy)
set(CMAKE_FIND_ROOT_PATH /usr/${NORVANE_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# This machine cannot execute IA-32 code; nothing is emulated for this preset.
