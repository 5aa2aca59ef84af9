# Runs one example program of the guide and checks it.
#
#   cmake -DPROGRAM=<program> [-DEMULATOR=<cmd|arg...>] [-DEXPECTED=<file>] -P run_guide_example.cmake
#
# The program must exit with status 0 and write nothing on standard error; with
# EXPECTED, its standard output must equal that file, except for the digits of
# addresses (0x and hex digits), which differ from run to run, and for blanks at line
# ends, which every dump line has and editors strip from the guide.

cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" _emulator "${EMULATOR}")
execute_process(
  COMMAND ${_emulator} ${PROGRAM}
  RESULT_VARIABLE _rc
  OUTPUT_VARIABLE _out
  ERROR_VARIABLE _err)

set(_failed "")
if(NOT "${_rc}" STREQUAL "0")
  string(APPEND _failed "exit status ${_rc}\n")
endif()
if(NOT "${_err}" STREQUAL "")
  string(APPEND _failed "output on standard error\n")
endif()
if(DEFINED EXPECTED)
  file(READ "${EXPECTED}" _want)
  foreach(_text _want _out)
    string(REGEX REPLACE "0x[0-9a-f]+" "0x..." ${_text}_masked "${${_text}}")
    string(REGEX REPLACE " +\n" "\n" ${_text}_masked "${${_text}_masked}")
  endforeach()
  if(NOT "${_out_masked}" STREQUAL "${_want_masked}")
    string(APPEND _failed "standard output differs from the guide's:\n${_want}")
  endif()
endif()

if(_failed)
  # NOTICE prints the texts as they are; FATAL_ERROR would reflow them.
  message(NOTICE "${_failed}--- standard output ---\n${_out}--- standard error ---\n${_err}")
  message(FATAL_ERROR "guide example ${PROGRAM} failed")
endif()
