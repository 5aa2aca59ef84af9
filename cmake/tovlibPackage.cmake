# Install rules, the CMake package (installed and build-tree) and the pkg-config file.
include(CMakePackageConfigHelpers)

set(TOVLIB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tovlib)

# Two components: Runtime is what a program linked against the library needs (the
# versioned shared library), Development what building such a program needs (headers,
# the unversioned .so link, a static library, the CMake and pkg-config files). A plain
# `cmake --install` installs both; the Debian packages take one each.
install(TARGETS tovlib EXPORT tovlibTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tovlib COMPONENT Development)
install(FILES lib/tovlib.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tovlib COMPONENT Development)

configure_package_config_file(cmake/tovlibConfig.cmake.in ${PROJECT_BINARY_DIR}/tovlibConfig.cmake
  INSTALL_DESTINATION ${TOVLIB_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tovlibConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(EXPORT tovlibTargets NAMESPACE tovlib:: DESTINATION ${TOVLIB_CMAKE_DIR}
  COMPONENT Development)
install(FILES ${PROJECT_BINARY_DIR}/tovlibConfig.cmake ${PROJECT_BINARY_DIR}/tovlibConfigVersion.cmake
  DESTINATION ${TOVLIB_CMAKE_DIR} COMPONENT Development)

# A build directory works as a package too: find_package(tovlib) with tovlib_DIR set to it.
export(EXPORT tovlibTargets NAMESPACE tovlib:: FILE ${PROJECT_BINARY_DIR}/tovlibTargets.cmake)

# pkg-config: the prefix is found from where the .pc file lies, so an installed tree
# can be moved (or installed with --prefix); directories given absolute stay so. The
# system prefix /usr, where a package manager installs and nothing moves, is written
# as it is: the flags then name /usr/include/tovlib and the system library directory
# plainly, and pkg-config leaves out the -L of the latter.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(TOVLIB_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH _up "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
  string(REGEX REPLACE "/$" "" _up "${_up}")
  set(TOVLIB_PC_PREFIX "\${pcfiledir}/${_up}")
endif()
foreach(_dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${_dir}}")
    set(TOVLIB_PC_${_dir} "${CMAKE_INSTALL_${_dir}}")
  else()
    set(TOVLIB_PC_${_dir} "\${prefix}/${CMAKE_INSTALL_${_dir}}")
  endif()
endforeach()
# A library built for Memcheck wants its clients compiled with the same pool hooks.
set(TOVLIB_PC_DEFINES "")
if(TOVLIB_VALGRIND)
  set(TOVLIB_PC_DEFINES " -DTOVLIB_VALGRIND")
endif()
configure_file(cmake/tovlib.pc.in ${PROJECT_BINARY_DIR}/tovlib.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tovlib.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT Development)
