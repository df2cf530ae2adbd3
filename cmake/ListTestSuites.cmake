# Run by tessaron_test_suites (TestSuites.cmake) after a test program is built:
# lists the program's tests and writes TESTS_FILE, the CTest entries, one per
# suite or, for the suites in SPLIT, one per test (started first).
#
# Inputs: PROGRAM, WORKING_DIR, TESTS_FILE, SPLIT and ENVIRONMENT (comma lists),
# TIMEOUT (seconds per entry, or empty for CTest's default).

cmake_minimum_required(VERSION 3.25)

string(REPLACE "," ";" split "${SPLIT}")
string(REPLACE "," ";" environment "${ENVIRONMENT}")

execute_process(
  COMMAND "${PROGRAM}" --gtest_list_tests
  WORKING_DIRECTORY "${WORKING_DIR}"
  TIMEOUT 60
  OUTPUT_VARIABLE listing
  ERROR_VARIABLE errors
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Listing the tests of ${PROGRAM} failed (${result}):\n${listing}\n${errors}")
endif()

# The comments after a parameterised name ("  # GetParam() = ...") may hold
# any character; names themselves hold none that a CMake list minds.
string(REGEX REPLACE "  #[^\n]*" "" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")

set(suites "")
set(suite "")
foreach(line IN LISTS lines)
  if(line STREQUAL "" OR line MATCHES "gtest_main\\.cc")
    continue()
  endif()
  if(line MATCHES "^  +(.+)$")
    string(STRIP "${CMAKE_MATCH_1}" test)
    list(APPEND "tests_of_${suite}" "${test}")
  elseif(line MATCHES "^([^ ]+)\\.$")
    set(suite "${CMAKE_MATCH_1}")
    list(APPEND suites "${suite}")
    set("tests_of_${suite}" "")
  else()
    message(FATAL_ERROR "Unexpected line in the test list of ${PROGRAM}: '${line}'")
  endif()
endforeach()

# Properties of every entry; a list value (ENVIRONMENT) stays one argument.
set(properties " WORKING_DIRECTORY [==[${WORKING_DIR}]==]")
if(environment)
  string(APPEND properties " ENVIRONMENT [==[${environment}]==]")
endif()
if(TIMEOUT)
  string(APPEND properties " TIMEOUT ${TIMEOUT}")
endif()

set(script "")

# One entry: NAME runs PROGRAM with FILTER; DISABLED when nothing in it would run.
macro(add_entry name filter disabled)
  string(APPEND script "add_test([==[${name}]==] [==[${PROGRAM}]==] [==[--gtest_filter=${filter}]==])\n")
  string(APPEND script "set_tests_properties([==[${name}]==] PROPERTIES${properties})\n")
  if(${disabled})
    string(APPEND script "set_tests_properties([==[${name}]==] PROPERTIES DISABLED TRUE)\n")
  endif()
endmacro()

foreach(suite IN LISTS suites)
  set(suite_disabled TRUE)
  foreach(test IN LISTS "tests_of_${suite}")
    if(NOT test MATCHES "^DISABLED_")
      set(suite_disabled FALSE)
    endif()
  endforeach()
  if(suite MATCHES "^DISABLED_")
    set(suite_disabled TRUE)
  endif()

  if(suite IN_LIST split)
    foreach(test IN LISTS "tests_of_${suite}")
      set(test_disabled ${suite_disabled})
      if(test MATCHES "^DISABLED_")
        set(test_disabled TRUE)
      endif()
      add_entry("${suite}.${test}" "${suite}.${test}" test_disabled)
      # A high cost starts these long entries first, so that they do not
      # run last on an otherwise idle core.
      string(APPEND script "set_tests_properties([==[${suite}.${test}]==] PROPERTIES "
                           "SKIP_REGULAR_EXPRESSION [==[\\[  SKIPPED \\]]==] COST 1000)\n")
    endforeach()
  else()
    add_entry("${suite}" "${suite}.*" suite_disabled)
  endif()
endforeach()

file(WRITE "${TESTS_FILE}" "${script}")
