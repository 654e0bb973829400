# SPDX-License-Identifier: MIT
# Formats the page PAGE with GROFF's man macros, every warning on: any output
# fails the test.
execute_process(COMMAND ${GROFF} -ww -z -man ${PAGE} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0 OR NOT output STREQUAL "")
  message(FATAL_ERROR "groff on ${PAGE} (${status}):\n${output}")
endif()
