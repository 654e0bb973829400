# SPDX-License-Identifier: MIT
# cparameters_add_test(<Name> LABEL <label> [SOURCES <file>...] [LIBRARIES <library>...] [MEMCHECK]
#                      [ALONE <suite>...])
#
# Builds <Name>.cpp of the calling folder and its other SOURCES, a UnitTest++
# test of the library, with the shared main of TestMain.cpp into the program
# <Name>, and registers it as the CTest test <Name> with that label. The
# program runs the suites or tests named on its command line, all without
# one. A suite of ALONE, one whose test may skip (TestMain.h), is left out of
# <Name> and runs as the CTest test <Name>.<suite> of its own, so that its
# skip shows as such and hides nothing else. MEMCHECK runs the CTest test
# <Name> under valgrind's memcheck as well (memcheck.<Name>, without the
# ALONE suites) where memcheck runs.
function(cparameters_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "MEMCHECK" "LABEL" "SOURCES;LIBRARIES;ALONE")
  add_executable(${name} ${name}.cpp ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE CParameters cparameters_test_main cparameters_warnings ${arg_LIBRARIES})
  target_compile_features(${name} PRIVATE cxx_std_17)
  target_compile_definitions(${name} PRIVATE CPARAMETERS_CASES="${PROJECT_SOURCE_DIR}/tests/cases")
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  list(TRANSFORM arg_ALONE PREPEND - OUTPUT_VARIABLE others)
  add_test(NAME ${name} COMMAND ${name} ${others})
  set(tests ${name})
  foreach(suite IN LISTS arg_ALONE)
    add_test(NAME ${name}.${suite} COMMAND ${name} ${suite})
    list(APPEND tests ${name}.${suite})
  endforeach()
  set_tests_properties(${tests} PROPERTIES LABELS ${arg_LABEL} SKIP_RETURN_CODE 77)
  if(arg_MEMCHECK)
    cparameters_memcheck(${name} ${others})
  endif()
endfunction()

# cparameters_skipped_test(<name> LABEL <label> REASON <reason>): the CTest
# test <name> stands for a check this build cannot make, reported as a skip
# with its reason when CTest runs it, and when CMake configures the build.
function(cparameters_skipped_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "LABEL;REASON" "")
  message(STATUS "Test ${name} skipped: ${arg_REASON}")
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "skipped: ${arg_REASON}")
  set_tests_properties(${name} PROPERTIES LABELS ${arg_LABEL} SKIP_REGULAR_EXPRESSION "^skipped: ")
endfunction()

# cparameters_memcheck(<program target> [<argument>...]): the program under
# valgrind's memcheck, as the CTest test memcheck.<target>: no invalid
# access, no uninitialised read and no leak. Sanitizer builds and emulated runs check
# memory their own way, so there it adds nothing.
function(cparameters_memcheck program)
  if(CPARAMETERS_MEMCHECK AND NOT CMAKE_CROSSCOMPILING AND NOT CPARAMETERS_SANITIZE)
    find_program(VALGRIND valgrind REQUIRED)
    add_test(NAME memcheck.${program}
             COMMAND ${VALGRIND} --error-exitcode=1 --leak-check=full --quiet $<TARGET_FILE:${program}> ${ARGN})
    set_tests_properties(memcheck.${program} PROPERTIES LABELS memcheck)
  endif()
endfunction()

# The main every test program of cparameters_add_test shares.
add_library(cparameters_test_main OBJECT ${CMAKE_CURRENT_LIST_DIR}/../TestMain.cpp)
target_link_libraries(cparameters_test_main PUBLIC PkgConfig::UnitTestPP PRIVATE cparameters_warnings)
target_compile_features(cparameters_test_main PRIVATE cxx_std_17)
