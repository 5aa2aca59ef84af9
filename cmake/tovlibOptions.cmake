# Compiler options shared by the library, its tests and its examples.

if(TOVLIB_SANITIZE)
  add_compile_options(-fsanitize=${TOVLIB_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${TOVLIB_SANITIZE})
endif()

# Valgrind: every pool becomes a Memcheck memory pool through the client requests of
# valgrind/memcheck.h. Off by default: the requests cost a few instructions each even
# when no checker runs, and they sit on the small-element path.
if(TOVLIB_VALGRIND)
  if(TOVLIB_SANITIZE MATCHES "address")
    message(FATAL_ERROR "TOVLIB_VALGRIND: programs built with AddressSanitizer do not run under Valgrind")
  endif()
  include(CheckIncludeFileCXX)
  check_include_file_cxx(valgrind/memcheck.h TOVLIB_HAVE_MEMCHECK_H)
  if(NOT TOVLIB_HAVE_MEMCHECK_H)
    message(FATAL_ERROR "TOVLIB_VALGRIND needs valgrind/memcheck.h (Debian package valgrind)")
  endif()
endif()

# Our own warnings; -Werror only when asked (the CI presets ask).
function(tovlib_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic $<$<BOOL:${TOVLIB_WERROR}>:-Werror>)
endfunction()

function(tovlib_library_options target)
  # The construction marker is written by operator new and read by the constructor,
  # and the pool is read by operator delete after the destructor. GCC's lifetime
  # dead-store elimination deletes exactly those accesses, in the library and in any
  # client that compiles the library's headers, so the option travels with the target
  # (and onto the link line, where LTO optimises again).
  target_compile_options(${target} PUBLIC $<$<CXX_COMPILER_ID:GNU>:-fno-lifetime-dse>)
  target_link_options(${target} PUBLIC $<$<CXX_COMPILER_ID:GNU>:-fno-lifetime-dse>)
  # The stopwatch keeps 64-bit calendar times; 32-bit glibc needs this to convert them.
  target_compile_definitions(${target} PRIVATE _FILE_OFFSET_BITS=64 _TIME_BITS=64)
  # Calls inside the library go straight to the function, not through the PLT.
  target_compile_options(${target} PRIVATE -fno-semantic-interposition)
  # The pool's allocation is inline in its header: clients must describe it too.
  if(TOVLIB_VALGRIND)
    target_compile_definitions(${target} PUBLIC TOVLIB_VALGRIND)
  endif()
  # Optimised builds inline across the library's own sources (node allocation into the
  # containers, element construction into the tables).
  if(CMAKE_BUILD_TYPE STREQUAL "Release")
    include(CheckIPOSupported)
    check_ipo_supported(RESULT _tov_ipo OUTPUT _tov_ipo_why LANGUAGES CXX)
    if(_tov_ipo)
      set_property(TARGET ${target} PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
    endif()
  endif()
  if(NOT TOVLIB_SANITIZE)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
