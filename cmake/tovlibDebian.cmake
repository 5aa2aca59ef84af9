# CPack rules for the Debian packages: libtovlib1 (the shared library, install component
# Runtime) and libtovlib-dev (everything else, component Development). Made by the
# package preset: cmake --workflow --preset package.

if(NOT PROJECT_IS_TOP_LEVEL OR NOT TOVLIB_INSTALL)
  message(FATAL_ERROR "TOVLIB_PACKAGE_DEB needs tovlib as the top-level project, with TOVLIB_INSTALL on")
endif()
# The prefix is fixed at configure time: GNUInstallDirs picks the multiarch library
# directory for /usr only, and the pkg-config file names /usr literally.
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "TOVLIB_PACKAGE_DEB: Debian packages install under /usr; configure with "
    "CMAKE_INSTALL_PREFIX=/usr (the package preset does)")
endif()
if(NOT BUILD_SHARED_LIBS)
  message(FATAL_ERROR "TOVLIB_PACKAGE_DEB: libtovlib1 ships the shared library; BUILD_SHARED_LIBS must be ON")
endif()

set(TOVLIB_DEB_MAINTAINER "tovlib maintainers <maintainers@users.noreply.c-seed-cd695dcd.example>"
  CACHE STRING "The Maintainer field of the Debian packages (name <address>)")
# Raised when the packaging changes but the library's version does not.
set(TOVLIB_DEB_REVISION 1)

# Every Debian package carries its copyright notice and a Debian changelog in
# /usr/share/doc/<package>/; the changelog is compressed with gzip -9n (no time stamp
# or file name in the header, so the same sources give the same package).
string(TIMESTAMP TOVLIB_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)  # honours SOURCE_DATE_EPOCH
configure_file(cmake/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog.Debian @ONLY)
execute_process(COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/debian/changelog.Debian
  OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
  COMMAND_ERROR_IS_FATAL ANY)
install(FILES cmake/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libtovlib1 COMPONENT Runtime)
install(FILES cmake/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libtovlib-dev COMPONENT Development)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_CONTACT "${TOVLIB_DEB_MAINTAINER}")
# Each package's description below starts with its own synopsis line; CPack would put
# an overall summary (by default the project's description) in front of it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debian ships binaries without their symbol tables.
set(CPACK_STRIP_FILES ON)
# Directories in the packages are 0755 whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL Runtime Development)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS Runtime)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # <package>_<version>-<revision>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_SOURCE tovlib)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TOVLIB_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# libtovlib-dev depends on libtovlib1 of exactly its own version.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

# A description is its synopsis line, then paragraphs separated by empty lines; CPack
# indents them as the control file wants.
set(_tov_deb_about [=[
tovlib gives a C++17 program memory pools that recycle small elements in
constant time and give their memory back in one piece, a common object base
with run-time class identity and intrusive reference counting, containers
that hold objects by counted reference (a FIFO, lists, a sorted list and a
hash table) behind one iterator protocol, and interned strings that compare
by pointer.]=])

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtovlib1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "foundation classes for C++17: pools, counted objects, interned strings
${_tov_deb_about}

This package holds the shared library.")
# Dependencies from the libraries the shared library links (dpkg-shlibdeps), and a
# shlibs file so that programs built against it depend on at least this version.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The ldconfig trigger refreshes the loader's cache once per dpkg run. (CPack also
# writes postinst and postrm scripts that call ldconfig for a library under /usr/lib.)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtovlib-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "foundation classes for C++17: development files
${_tov_deb_about}

This package holds the headers, the CMake package (find_package(tovlib)) and
the pkg-config file. With GCC, compile clients with -fno-lifetime-dse.")

include(CPack)
