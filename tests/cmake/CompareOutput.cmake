# SPDX-License-Identifier: MIT
# Runs a program and compares what it prints with an expected file.
#
#   -DPROGRAM=<path>          the program to run
#   -DEMULATOR=<list>         prefix for cross builds (may be empty)
#   -DPRELOAD=<file>          a shared object loaded before the program's
#                             own libraries (may be empty)
#   -DEXPECTED=<file>         expected text
#   -DEXPECTED_EXIT=<n>       expected exit status
#   -DFAILURES_ONLY=ON        compare only the failure reports (standard
#                             error) and the summary line
#   -DGOLDEN=<file>           with FAILURES_ONLY, the lines of standard output
#                             that differ from this file's are compared too,
#                             each as "output line <n>: <text>"
#
# Otherwise standard output is compared whole and standard error must be
# empty. The run time in the summary varies and the source paths in failure
# reports depend on the checkout, so both are taken out before comparing.

if(PRELOAD)
  # Under qemu-user the guest's loader must see it and the emulator's own
  # must not: qemu hands QEMU_SET_ENV to the guest only.
  if(EMULATOR)
    set(ENV{QEMU_SET_ENV} "LD_PRELOAD=${PRELOAD}")
  else()
    set(ENV{LD_PRELOAD} "${PRELOAD}")
  endif()
  # AddressSanitizer would stop the program: it wants its runtime loaded first.
  set(ENV{ASAN_OPTIONS} "$ENV{ASAN_OPTIONS}:verify_asan_link_order=0")
endif()
execute_process(COMMAND ${EMULATOR} ${PROGRAM} OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status)

string(REGEX REPLACE "Test time: [0-9.]+ seconds.\n" "" output "${output}")
if(FAILURES_ONLY)
  string(REGEX REPLACE "[^\n]*:[0-9]+:[0-9]+: error: " "error: " errors "${errors}")
  string(REGEX MATCH "(Success|FAILURE): [^\n]*\n" summary "${output}")
  set(changed "")
  if(GOLDEN)
    # Line by line; the program's output holds no semicolon.
    file(READ "${GOLDEN}" golden_output)
    string(REPLACE "${summary}" "" output "${output}")
    string(REGEX REPLACE "(Success|FAILURE): [^\n]*\n" "" golden_output "${golden_output}")
    string(REPLACE "\n" ";" got_lines "${output}")
    string(REPLACE "\n" ";" golden_lines "${golden_output}")
    set(line 0)
    foreach(got want IN ZIP_LISTS got_lines golden_lines)
      math(EXPR line "${line} + 1")
      if(NOT got STREQUAL want)
        string(APPEND changed "output line ${line}: ${got}\n")
      endif()
    endforeach()
  endif()
  set(output "${changed}${errors}${summary}")
  set(errors "")
endif()

file(READ "${EXPECTED}" expected)
set(problems "")
if(NOT output STREQUAL expected)
  string(APPEND problems "output differs from ${EXPECTED}:\n--- got ---\n${output}--- end ---\n")
endif()
if(NOT status STREQUAL EXPECTED_EXIT)
  string(APPEND problems "exit status ${status}, expected ${EXPECTED_EXIT}\n")
endif()
if(NOT errors STREQUAL "")
  string(APPEND problems "standard error was not empty:\n${errors}\n")
endif()
if(problems)
  message(FATAL_ERROR "${problems}")
endif()
