# Runs the dialog's program where there is no display: --help and --version
# answer and exit 0; files get one line that points to tessary-cli, exit 2.
#   cmake -DPROGRAM=<tessary> -P CheckWithoutDisplay.cmake
set(bare ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM)
set(problems "")
foreach(case "--help;0;Usage: " "--version;0;Tessary [0-9]" "a.tga;2;^tessary: .*tessary-cli[^\n]*\n$")
    list(GET case 0 argument)
    list(GET case 1 expected)
    list(GET case 2 pattern)
    execute_process(COMMAND ${bare} "${PROGRAM}" ${argument} RESULT_VARIABLE result
        OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
    if(NOT result STREQUAL expected OR NOT "${out}${err}" MATCHES "${pattern}")
        string(APPEND problems "\n  tessary ${argument}: exit ${result}, printed: ${out}${err}")
    endif()
endforeach()
if(NOT problems STREQUAL "")
    message(FATAL_ERROR "without a display:${problems}")
endif()
