# Debian packages of the install components: `cpack -G DEB` in a configured, built folder.
#
#   libvexcomm5-5    the library under its soname (libvexcomm5.so.5)
#   libvexcomm5-dev  headers, the unversioned link, the CMake package, vexcomm5.pc
#   vexcomm          the command-line host, its manual page and completion, the template Kurse.dat
#   vexmsg-server    the reference server, its manual page, README and sample scenario
#
# A folder configured for /usr gets the multiarch library folder; any other works as well (the
# library then lands in /usr/lib). The Python module is not packaged.
set(VEXCOMM_PACKAGE_MAINTAINER "VexComm5 maintainers <maintainers@vexcomm5.invalid>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexcomm5)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VEXCOMM_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL lib dev vexcomm server)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies on the system's libraries from the binaries; the library's own shlibs file lets
# hosts packaged elsewhere depend on it in turn.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# dpkg-shlibdeps runs in each package's staging folder and finds our library in its neighbour's.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "../lib/usr/${CMAKE_INSTALL_LIBDIR}")

# The package of a library whose name ends in a digit is named after it and the soname's number.
set(vexcomm_library_package libvexcomm5-${PROJECT_VERSION_MAJOR})
set(vexcomm_library_depends "${vexcomm_library_package} (>= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_LIB_PACKAGE_NAME ${vexcomm_library_package})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
# SQLCipher is loaded when Kurse.dat is first used, OpenSSL at the first connection (dlopen
# both), so dpkg-shlibdeps sees neither.
set(CPACK_DEBIAN_LIB_PACKAGE_DEPENDS "libsqlcipher0")
if(TARGET vexcomm_openssl_stubs)
  string(APPEND CPACK_DEBIAN_LIB_PACKAGE_DEPENDS ", libssl${vexcomm_openssl_major}")
endif()
# ldconfig by trigger; no maintainer scripts of its own (the name alone keeps cpack's out).
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers
    ${PROJECT_BINARY_DIR}/debian/none/postinst ${PROJECT_BINARY_DIR}/debian/none/postrm)
set(CPACK_DEBIAN_LIB_DESCRIPTION
    "home-banking communication component VexComm5 (library)
VexComm5 talks to the VEX-Morva online service over TLS: it fetches
messages and files, securities quotes (kept in an encrypted quote
database) and the current deposit offers, and delivers support logs
and password requests.

This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvexcomm5-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${vexcomm_library_package} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEV_DESCRIPTION
    "home-banking communication component VexComm5 (development files)
VexComm5 talks to the VEX-Morva online service over TLS: it fetches
messages and files, securities quotes and the current deposit offers
for a host program.

This package holds the C++20 headers and what a build finds them
with: the CMake package (find_package(VexComm5), target
VexComm5::vexcomm5) and the pkg-config file vexcomm5.")

set(CPACK_DEBIAN_VEXCOMM_PACKAGE_NAME vexcomm)
set(CPACK_DEBIAN_VEXCOMM_PACKAGE_SECTION net)
set(CPACK_DEBIAN_VEXCOMM_PACKAGE_DEPENDS "${vexcomm_library_depends}")
# librsvg draws `db chart --out FILE.png`; it is loaded then (dlopen), and without it only that fails.
set(CPACK_DEBIAN_VEXCOMM_PACKAGE_RECOMMENDS "librsvg2-2")
set(CPACK_DEBIAN_VEXCOMM_DESCRIPTION
    "command-line host of the VexComm5 home-banking component
vexcomm runs every operation of VexComm5 against a VEXMSG server as
the home-banking application does: it saves received files, shows
deposit offers as tables, keeps quotes in the encrypted quote database
Kurse.dat and manages the installation's identity. vexcomm demo runs
all of it against a built-in reference server.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME vexmsg-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "${vexcomm_library_depends}")
set(CPACK_DEBIAN_SERVER_DESCRIPTION
    "reference TLS server of the VEXMSG frame protocol
vexmsg-server answers the requests of the VexComm5 component from a
JSON scenario, with server errors, notices and transport faults on
demand, so that a host can be tried without the service's server.")

# Before the packages are made from the staged files: what Debian asks of them that a plain
# install does not do (no RUNPATH, compressed manual pages, copyright and changelog).
string(TIMESTAMP vexcomm_package_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in
               ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
set(VEXCOMM_DEBIAN_COPYRIGHT ${CMAKE_CURRENT_LIST_DIR}/debian/copyright)
set(VEXCOMM_DEBIAN_CHANGELOG ${PROJECT_BINARY_DIR}/debian/changelog)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/prepare_staging.cmake.in
               ${PROJECT_BINARY_DIR}/debian/prepare_staging.cmake @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_BINARY_DIR}/debian/prepare_staging.cmake)

include(CPack)
