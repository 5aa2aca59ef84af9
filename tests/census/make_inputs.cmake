# Makes, in DIR, the census inputs that are not kept in the source tree: an empty
# file, a single line of 10 MB (an identifier of 1 MB, then 819000 times "kiwi apple"),
# a FIFO, and a directory named like a file (notes.txt/) holding one file.
#
#   cmake -DDIR=<directory> -P make_inputs.cmake

file(MAKE_DIRECTORY "${DIR}")
file(WRITE "${DIR}/empty.txt" "")
file(WRITE "${DIR}/notes.txt/inner.txt" "kiwi pear\n")
string(REPEAT "y" 1000000 _identifier)
string(REPEAT "kiwi apple " 819000 _words)
file(WRITE "${DIR}/long_line.txt" "${_identifier} ${_words}\n")
file(REMOVE "${DIR}/fifo")
execute_process(COMMAND mkfifo "${DIR}/fifo" RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "mkfifo ${DIR}/fifo: ${_rc}")
endif()
