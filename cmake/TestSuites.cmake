# CTest entries for a GoogleTest program, one per test suite: the program runs
# once per suite (--gtest_filter=Suite.*) rather than once per test, so a
# sanitized build pays its start-up once per suite. The suites named after
# SPLIT keep one entry per test (named Suite.Test), so that their long tests
# spread over the cores. The tests are listed after each build of the program.
#
#   tessaron_test_suites(<target> [SPLIT <suite>...] [ENVIRONMENT <var=value>...]
#                        [TIMEOUT <seconds>])

set(_tessaron_list_suites_script ${CMAKE_CURRENT_LIST_DIR}/ListTestSuites.cmake)

function(tessaron_test_suites target)
  cmake_parse_arguments(arg "" "TIMEOUT" "SPLIT;ENVIRONMENT" ${ARGN})
  set(tests_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake)
  set(include_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_suites_include.cmake)
  # Lists travel to the script with commas, as a semicolon would split them.
  string(REPLACE ";" "," split "${arg_SPLIT}")
  string(REPLACE ";" "," environment "${arg_ENVIRONMENT}")
  add_custom_command(TARGET ${target} POST_BUILD
    BYPRODUCTS ${tests_file}
    COMMAND ${CMAKE_COMMAND}
            -D PROGRAM=$<TARGET_FILE:${target}>
            -D WORKING_DIR=${CMAKE_CURRENT_BINARY_DIR}
            -D TESTS_FILE=${tests_file}
            -D SPLIT=${split}
            -D ENVIRONMENT=${environment}
            -D TIMEOUT=${arg_TIMEOUT}
            -P ${_tessaron_list_suites_script}
    VERBATIM)
  file(WRITE ${include_file}
    "if(EXISTS \"${tests_file}\")\n"
    "  include(\"${tests_file}\")\n"
    "else()\n"
    "  add_test(${target}_NOT_BUILT ${target}_NOT_BUILT)\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()
