# The about dialog shows the program's licence as the repository's
# COPYING.LESSER holds it. The file is compiled in at build time, so the text
# exists only once.
#
# Included from the directory that defines zentaval_core; run as a script
# (cmake -P) it writes the source that holds the text.

if(CMAKE_SCRIPT_MODE_FILE)
    file(READ "${LICENCE_INPUT}" text)
    # The text goes into a raw string literal; it must not close it early.
    string(FIND "${text}" ")licence\"" clash)
    if(NOT clash EQUAL -1)
        message(FATAL_ERROR "${LICENCE_INPUT} contains the raw-string delimiter )licence\"")
    endif()
    file(WRITE "${LICENCE_OUTPUT}"
        "// Generated from ${LICENCE_INPUT} at build time.\n"
        "#include \"forms/licencetext.h\"\n\n"
        "extern const char licenceText[] = R\"licence(${text})licence\";\n")
    return()
endif()

set(ZENTAVAL_LICENCE_INPUT ${PROJECT_SOURCE_DIR}/COPYING.LESSER)
set(ZENTAVAL_LICENCE_SOURCE ${CMAKE_CURRENT_BINARY_DIR}/forms/licencetext.cpp)
add_custom_command(
    OUTPUT ${ZENTAVAL_LICENCE_SOURCE}
    COMMAND ${CMAKE_COMMAND} -DLICENCE_INPUT=${ZENTAVAL_LICENCE_INPUT}
            -DLICENCE_OUTPUT=${ZENTAVAL_LICENCE_SOURCE} -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS ${ZENTAVAL_LICENCE_INPUT} ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Compiling in the licence text"
    VERBATIM)
target_sources(zentaval_core PRIVATE ${ZENTAVAL_LICENCE_SOURCE})
