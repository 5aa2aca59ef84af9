# Runs census once and checks its exit status and output.
#
#   cmake -DCENSUS=<program> [-DEMULATOR=<cmd|arg...>] [-DARGS=<arg|arg...>]
#         -DRC=<status> [-DEXPECTED=<file>] [-DOUT=<regex>] [-DERR=<regex>]
#         [-DNOT_OUT=<regex>] -P run_census.cmake
#
# Lists are joined with "|" so that they pass through the test command line whole.
# EXPECTED must equal the whole standard output; OUT and ERR must match standard
# output and standard error ("." also matches a newline); NOT_OUT must not match
# standard output. The program runs in this script's directory, so ARGS can name the
# inputs relative to it. With CENSUS_UPDATE=1 in the environment the output is first
# written to EXPECTED: review the difference before committing it.

string(REPLACE "|" ";" _emulator "${EMULATOR}")
string(REPLACE "|" ";" _args "${ARGS}")
execute_process(
  COMMAND ${_emulator} ${CENSUS} ${_args}
  WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}
  RESULT_VARIABLE _rc
  OUTPUT_VARIABLE _out
  ERROR_VARIABLE _err)

set(_failed "")
if(NOT "${_rc}" STREQUAL "${RC}")
  string(APPEND _failed "exit status ${_rc}, expected ${RC}\n")
endif()
if(DEFINED EXPECTED AND "$ENV{CENSUS_UPDATE}" STREQUAL "1")
  file(WRITE "${EXPECTED}" "${_out}")
  message(STATUS "wrote ${EXPECTED}")
endif()
if(DEFINED EXPECTED)
  file(READ "${EXPECTED}" _want)
  if(NOT _out STREQUAL _want)
    string(APPEND _failed "standard output differs from ${EXPECTED}:\n${_want}")
  endif()
endif()
if(DEFINED OUT AND NOT _out MATCHES "${OUT}")
  string(APPEND _failed "standard output does not match: ${OUT}\n")
endif()
if(DEFINED NOT_OUT AND _out MATCHES "${NOT_OUT}")
  string(APPEND _failed "standard output matches: ${NOT_OUT}\n")
endif()
if(DEFINED ERR AND NOT _err MATCHES "${ERR}")
  string(APPEND _failed "standard error does not match: ${ERR}\n")
endif()

if(_failed)
  message(FATAL_ERROR "census ${_args}\n${_failed}--- standard output ---\n${_out}--- standard error ---\n${_err}")
endif()
