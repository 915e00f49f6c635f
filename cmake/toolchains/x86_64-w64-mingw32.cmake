# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix-threads
# variant, so that std::thread and std::mutex work). Programs are linked
# statically: they need no DLL beyond those every Windows system has.
# ctest runs the .exe tests under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TESSARY_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSARY_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSARY_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSARY_MINGW_TRIPLET}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Libraries and packages come from the mingw sysroot only, never from the
# host; programs (wine, windres) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TESSARY_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Header-only host libraries do not depend on the target, but their folder
# (/usr/include) must never reach the cross compiler, whose C library lives
# elsewhere. They are copied into a folder of their own inside the build
# tree, laid out like a prefix, and searched as one more root.
get_property(_tessary_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT _tessary_in_try_compile)
    set(_tessary_host_headers ${CMAKE_BINARY_DIR}/host-headers)
    if(EXISTS /usr/include/CLI/CLI.hpp AND EXISTS /usr/share/cmake/CLI11/CLI11Config.cmake)
        file(COPY /usr/include/CLI DESTINATION ${_tessary_host_headers}/include)
        file(COPY /usr/share/cmake/CLI11 DESTINATION ${_tessary_host_headers}/share/cmake)
    endif()
    list(APPEND CMAKE_FIND_ROOT_PATH ${_tessary_host_headers})
endif()

find_program(TESSARY_WINE NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSARY_WINE})
