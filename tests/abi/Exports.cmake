# SPDX-License-Identifier: MIT
# Fails unless the library's defined dynamic symbols are exactly those listed.
#   -DNM=<nm> -DLIBRARY=<libCParameters.so.0> -DEXPECTED=<list, one symbol a line, sorted>
#   -DUPDATE=ON   writes the list from the library instead

execute_process(COMMAND ${NM} -D --defined-only --demangle "${LIBRARY}" OUTPUT_VARIABLE listing
                COMMAND_ERROR_IS_FATAL ANY)
string(REGEX REPLACE "[^\n]* [A-Za-z] " "" listing "${listing}")
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" symbols "${listing}")
list(SORT symbols)
list(JOIN symbols "\n" actual)
if(UPDATE)
  file(WRITE "${EXPECTED}" "${actual}\n")
  return()
endif()
file(READ "${EXPECTED}" expected)
if(NOT "${actual}\n" STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ from ${EXPECTED}:\n${actual}\n")
endif()
