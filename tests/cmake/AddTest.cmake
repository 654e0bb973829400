# SPDX-License-Identifier: MIT
# cparameters_add_test(<Name> LABEL <label> [SOURCES <file>...] [LIBRARIES <library>...] [MEMCHECK])
#
# Builds <Name>.cpp of the calling folder and its other SOURCES, a UnitTest++
# test of the library, with the shared main of TestMain.cpp into the program
# <Name>, and registers it as the CTest test <Name> with that label. The
# program runs the suites or tests named on its command line, all without
# one. MEMCHECK runs it under valgrind's memcheck as well (memcheck.<Name>)
# where memcheck runs.
function(cparameters_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "MEMCHECK" "LABEL" "SOURCES;LIBRARIES")
  add_executable(${name} ${name}.cpp ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE CParameters cparameters_test_main cparameters_warnings ${arg_LIBRARIES})
  target_compile_features(${name} PRIVATE cxx_std_17)
  target_compile_definitions(${name} PRIVATE CPARAMETERS_CASES="${PROJECT_SOURCE_DIR}/tests/cases")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS ${arg_LABEL})
  if(arg_MEMCHECK)
    cparameters_memcheck(${name})
  endif()
endfunction()

# cparameters_memcheck(<program target>): the program under valgrind's
# memcheck, as the CTest test memcheck.<target>: no invalid access, no
# uninitialised read and no leak. Sanitizer builds and emulated runs check
# memory their own way, so there it adds nothing.
function(cparameters_memcheck program)
  if(CPARAMETERS_MEMCHECK AND NOT CMAKE_CROSSCOMPILING AND NOT CPARAMETERS_SANITIZE)
    find_program(VALGRIND valgrind REQUIRED)
    add_test(NAME memcheck.${program}
             COMMAND ${VALGRIND} --error-exitcode=1 --leak-check=full --quiet $<TARGET_FILE:${program}>)
    set_tests_properties(memcheck.${program} PROPERTIES LABELS memcheck)
  endif()
endfunction()

# The main every test program of cparameters_add_test shares.
add_library(cparameters_test_main OBJECT ${CMAKE_CURRENT_LIST_DIR}/../TestMain.cpp)
target_link_libraries(cparameters_test_main PUBLIC PkgConfig::UnitTestPP PRIVATE cparameters_warnings)
target_compile_features(cparameters_test_main PRIVATE cxx_std_17)
