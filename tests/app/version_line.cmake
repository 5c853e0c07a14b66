# cmake -DPROGRAMS=program;... -DEXPECTED=line -P version_line.cmake
# Each program's --version must print EXPECTED and a new line, and end with status 0.
foreach(program IN LISTS PROGRAMS)
    execute_process(COMMAND ${program} --version
                    OUTPUT_VARIABLE printed ERROR_VARIABLE errors RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR NOT printed STREQUAL "${EXPECTED}\n")
        message(FATAL_ERROR "${program} --version: status ${status}, printed \"${printed}\""
                            " (${errors}), expected \"${EXPECTED}\"")
    endif()
    message(STATUS "${program}: ${printed}")
endforeach()
