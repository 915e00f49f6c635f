# find_package for something a part of the build cannot do without. When it
# is missing, configuring stops naming the Debian packages that provide it
# and the option that leaves that part out, rather than with a bare "Could
# NOT find".
macro(tessary_require_package package debianPackages leaveOut)
    find_package(${package} QUIET ${ARGN})
    if(NOT ${package}_FOUND)
        message(FATAL_ERROR
            "${package} not found. Install it as root with\n"
            "  bash scripts/install-deps.sh ${debianPackages}\n"
            "or configure with ${leaveOut}. "
            "Preset programs builds only tessary-cli and the dialog.")
    endif()
endmacro()
