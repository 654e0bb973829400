# SPDX-License-Identifier: MIT
# Fails system calls of a save with strace's fault injection, which needs no
# wrappers in the program: the save must report the call, keep the old file
# and leave no temp. -DSTRACE -DPROGRAM -DDIR -DINJECT (strace's
# -e inject= argument) -DEXPECTED_EXIT (see saveForStrace in FileTest.cpp)
# -DEXPECTED (old or new: what the file must hold afterwards).
execute_process(COMMAND ${STRACE} -f -o /dev/null true RESULT_VARIABLE traced)
if(NOT traced EQUAL 0)
  message("strace cannot trace here") # e.g. ptrace forbidden in a container: skipped
  return()
endif()
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR})
set(old "{\"old\":\"1\"}\n")
file(WRITE ${DIR}/params.json "${old}")
execute_process(COMMAND ${STRACE} -f -o /dev/null -e inject=${INJECT} ${PROGRAM} --save ${DIR}/params.json
                RESULT_VARIABLE status)
file(READ ${DIR}/params.json text)
file(GLOB temps LIST_DIRECTORIES true ${DIR}/.*)
file(REMOVE_RECURSE ${DIR})
set(holds new)
if(text STREQUAL old)
  set(holds old)
endif()
if(NOT status EQUAL EXPECTED_EXIT OR temps OR NOT holds STREQUAL EXPECTED)
  message(FATAL_ERROR "inject=${INJECT}: exit status ${status}, left '${temps}', the file holds the ${holds} text; "
                      "expected ${EXPECTED_EXIT}, nothing left, the ${EXPECTED} text")
endif()
