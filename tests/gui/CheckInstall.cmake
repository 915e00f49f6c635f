# Installs the build into a private temporary prefix and checks that the
# programs, the desktop entry and every icon land where desktops look.
#   cmake -DBUILD_DIR=<build tree> -P CheckInstall.cmake
string(RANDOM LENGTH 8 suffix)
set(temp "$ENV{TMPDIR}")
if(temp STREQUAL "")
    set(temp "/tmp")
endif()
set(prefix "${temp}/tessary-install-${suffix}")

execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}"
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
set(missing "")
if(NOT result EQUAL 0)
    set(missing "cmake --install failed: ${errors}")
endif()
set(expected bin/tessary bin/tessary-cli share/applications/tessary.desktop
    share/icons/hicolor/scalable/apps/tessary.svg share/man/man1/tessary.1
    share/man/man1/tessary-cli.1 share/bash-completion/completions/tessary-cli)
foreach(size 16 22 24 32 48 64 128 256)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/tessary.png)
endforeach()
foreach(file IN LISTS expected)
    if(NOT EXISTS "${prefix}/${file}")
        string(APPEND missing " ${file}")
    endif()
endforeach()
if(EXISTS "${prefix}/share/applications/tessary.desktop")
    file(READ "${prefix}/share/applications/tessary.desktop" entry)
    if(NOT entry MATCHES "\nExec=tessary %F\n" OR NOT entry MATCHES "\nIcon=tessary\n")
        string(APPEND missing " (desktop entry does not start tessary with its icon)")
    endif()
endif()
file(REMOVE_RECURSE "${prefix}")
if(NOT missing STREQUAL "")
    message(FATAL_ERROR "not installed:${missing}")
endif()
