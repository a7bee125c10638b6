# The two packages of the host directory (scripts/package.sh runs CPack with them):
#   vexdram-VERSION-Linux-ARCH.tar.gz   the tree exactly as `cmake --install` lays it out;
#   vexdram_VERSION_ARCH.deb            that tree under /opt/vexdram, plus what deb_layout.cmake
#                                       adds around it (links in /usr/bin, manual pages, copyright).
set(VEXDRAM_DEB_PREFIX /opt/vexdram)

set(CPACK_PACKAGE_NAME vexdram)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "vexdram developers <vexdram@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DDR binary parameter tools")
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_STRIP_FILES ON)
# The prefix differs per package: none in the tarball, /opt/vexdram in the .deb.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/per_package.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb_layout.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "vexdram_tool reports and edits the parameter block of DDR initialisation
firmware binaries: DRAM frequencies, UART, idle timers, drive strengths, ODT,
slew rates, vrefs, byte and DQ maps, hash masks and CA skews, 484 named
parameters, changing exactly the bits asked for.
.
vexdram does the same for scripts and build systems: get, set, apply, show
and diff, on DDR binaries and loader containers, with checked values, exit
statuses for every outcome, JSON, and all-or-nothing writes.
.
The host directory /opt/vexdram holds the dramforge Python extension module
and the Python package vexdram (the same engine in process) with their type
stubs, the engine as a C++ library (headers, static and shared library,
found by pkg-config and CMake), imgwelder (packs and unpacks loader
containers), the vexdram studio (a local web page for editing binaries),
bundled sample binaries and the user guide.")
if(VEXDRAM_PYTHON)
  # an extension module is bound to the minor version it was built for
  math(EXPR next_minor "${VEXDRAM_PYTHON_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= ${VEXDRAM_PYTHON_MAJOR}.${VEXDRAM_PYTHON_MINOR}~), \
python3 (<< ${VEXDRAM_PYTHON_MAJOR}.${next_minor}), python3-pandas")
endif()
# A browser for the studio's page; nothing else needs one.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "chromium | www-browser")

# Read by deb_layout.cmake when CPack runs.
set(CPACK_VEXDRAM_STRIP ${CMAKE_STRIP})
set(CPACK_VEXDRAM_MULTIARCH ${CMAKE_LIBRARY_ARCHITECTURE})
if(NOT CPACK_VEXDRAM_MULTIARCH)
  set(CPACK_VEXDRAM_MULTIARCH x86_64-linux-gnu)
endif()
set(CPACK_VEXDRAM_DEB_PREFIX ${VEXDRAM_DEB_PREFIX})
set(CPACK_VEXDRAM_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/vexdram-studio.in ${CMAKE_BINARY_DIR}/packaging/vexdram-studio @ONLY)
set(CPACK_VEXDRAM_STUDIO_LAUNCHER ${CMAKE_BINARY_DIR}/packaging/vexdram-studio)

include(CPack)
