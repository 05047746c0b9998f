# Version parts of the build. Branch and revision come from git when the
# source is a checkout; otherwise the reference values (no branch, revision 0).
set(RARAROZ_VERSION_MAJOR "" CACHE STRING "Major version text")
set(RARAROZ_VERSION_MINOR "" CACHE STRING "Minor version text")
set(RARAROZ_VERSION_MICRO "" CACHE STRING "Micro version text")
set(RARAROZ_VERSION_BUILD "" CACHE STRING "Build number text")

set(RARAROZ_BRANCH "")
set(RARAROZ_REVISION 0)
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${CMAKE_SOURCE_DIR}/.git)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --abbrev-ref HEAD
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
        OUTPUT_VARIABLE _branch OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE _branch_rc ERROR_QUIET)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
        OUTPUT_VARIABLE _rev OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE _rev_rc ERROR_QUIET)
    if(_branch_rc EQUAL 0 AND NOT _branch STREQUAL "HEAD")
        set(RARAROZ_BRANCH "${_branch}")
    endif()
    if(_rev_rc EQUAL 0 AND _rev MATCHES "^[0-9]+$")
        set(RARAROZ_REVISION ${_rev})
    endif()
endif()

configure_file(${CMAKE_SOURCE_DIR}/cmake/buildinfo.h.in ${CMAKE_BINARY_DIR}/generated/buildinfo.h @ONLY)
