# A file that disappears after census has listed it and before it reads it: census
# names it on standard error, exits with status 1 and prints the census of the files
# it could read.
#
#   cmake -DCENSUS=<program> [-DEMULATOR=<cmd|arg...>] -DDIR=<directory> -P vanishing.cmake
#
# census walks DIR (listing every file), then reads the files in path order and draws
# its progress on standard error after each one. The progress goes through a pipe to a
# shell that waits for its first bytes -- census has finished the walk and read a.txt
# -- and then deletes the z*.txt files while census is still reading the large b*.txt
# files. The deletion races census, so a run where census happened to read every file
# before the deletion is repeated; every run must account for each listed file.

string(REPLACE "|" ";" _emulator "${EMULATOR}")
file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}")
file(WRITE "${DIR}/a.txt" "kiwi\n")
string(REPEAT "kiwi apple " 200000 _large)
foreach(_i RANGE 1 4)
  file(WRITE "${DIR}/b${_i}.txt" "${_large}\n")
endforeach()
set(_listed 55)  # a.txt, four b*.txt, fifty z*.txt

foreach(_attempt RANGE 1 20)
  foreach(_i RANGE 10 59)
    file(WRITE "${DIR}/z${_i}.txt" "pear\n")
  endforeach()
  execute_process(
    COMMAND sh -c "\"$@\" 2>&1 >\"${DIR}.out\"; echo \"status=$?\"" census ${_emulator}
            ${CENSUS} --top 2 "${DIR}"
    COMMAND sh -c "dd bs=1 count=8 status=none >/dev/null; rm -f \"${DIR}\"/z*.txt; cat"
    OUTPUT_VARIABLE _err
    RESULT_VARIABLE _rc)
  file(READ "${DIR}.out" _out)
  if(NOT _rc EQUAL 0 OR NOT _err MATCHES "status=([0-9]+)\n$")
    message(FATAL_ERROR "the test pipeline failed (${_rc}):\n${_err}")
  endif()
  set(_status ${CMAKE_MATCH_1})
  if(NOT _out MATCHES "^census: ([0-9]+) files, [0-9]+ identifiers, [0-9]+ distinct\nrank  count  files  identifier\n   1 800001      5  kiwi\n   2 800000      4  apple\n$")
    message(FATAL_ERROR "unexpected standard output:\n${_out}\nstandard error:\n${_err}")
  endif()
  set(_read ${CMAKE_MATCH_1})
  string(REGEX MATCHALL "census: [^\n]*/z[0-9][0-9]\\.txt: No such file or directory\n" _gone "${_err}")
  list(LENGTH _gone _missing)
  math(EXPR _accounted "${_read} + ${_missing}")
  if(NOT _accounted EQUAL _listed)
    message(FATAL_ERROR "${_read} files read and ${_missing} reported missing, of ${_listed} listed:\n${_err}")
  endif()
  if(_missing GREATER 0)
    if(NOT _status EQUAL 1)
      message(FATAL_ERROR "status ${_status} with ${_missing} files reported missing")
    endif()
    message(STATUS "attempt ${_attempt}: ${_missing} of ${_listed} files vanished before census read them")
    return()
  endif()
  if(NOT _status EQUAL 0)
    message(FATAL_ERROR "status ${_status} though every file was read:\n${_err}")
  endif()
endforeach()
message(FATAL_ERROR "in 20 runs census read every file before the deletion")
