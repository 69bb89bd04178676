# Debian packages, one per install component: libsecpolicy0 (the library),
# libhostsim0 (the simulated host's library, which libsecpolicy reaches the
# host through on this machine), libsecpolicy-dev (headers, .so links of both
# libraries, CMake and pkg-config files), secpolicy (the tool, its man pages
# and completion) and hostsim (the simulated host's tool, profile, man page
# and completion). Each package that holds a binary has a -dbgsym package
# beside it with the binary's debug information, found by its build ID.
#
# Built from a tree configured with -DCMAKE_INSTALL_PREFIX=/usr, so the
# libraries land in the multiarch libdir and the programs need no run path,
# and with the distribution's flags (debug information included):
#   eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
#   CXXFLAGS="$CPPFLAGS $CXXFLAGS" CFLAGS="$CPPFLAGS $CFLAGS" \
#     cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr
#   cmake --build build-package && (cd build-package && cpack)
# (scripts/ci.d/50-package does so.) The file dates, the changelog and the
# man pages come from the last commit (cmake/SourceDate.cmake), so one commit
# gives the same .deb bytes.
include(${CMAKE_CURRENT_LIST_DIR}/SourceDate.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/DebianChangelog.cmake)

set(SECPOLICY_PACKAGE_MAINTAINER "secpolicy developers <secpolicy-devel@example.org>"
    CACHE STRING "Maintainer of the Debian packages, as \"Name <address>\"")
set(SECPOLICY_DEBIAN_REVISION 1 CACHE STRING "Debian revision of the packages' version")
# Where the project itself is reached, whoever packages it.
set(SECPOLICY_UPSTREAM_CONTACT "secpolicy developers <secpolicy-devel@example.org>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME secpolicy)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "secpolicy developers")
set(CPACK_PACKAGE_CONTACT "${SECPOLICY_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# CPack strips the binaries itself while it moves their debug information
# into the -dbgsym packages (usr/lib/debug/.build-id/XX/YYYY.debug).
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL library hostsim_library development secpolicy hostsim)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${SECPOLICY_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${PROJECT_BINARY_DIR} ${PROJECT_BINARY_DIR}/hostsim)
set(_secpolicy_deb_version "${PROJECT_VERSION}-${SECPOLICY_DEBIAN_REVISION}")

# Package name, section, dependencies on the other packages, summary and
# long description of each component. No library package depends on a tool
# package.
set(_secpolicy_deb_library libsecpolicy0 libs "libhostsim0 (= ${_secpolicy_deb_version})"
    "library applying the host's mandatory access-control policy"
    "libsecpolicy reads the host's policy tree (objects, domains, file labels,
tardisk policies), writes it into the kernel and displays it back. It also
offers the runtime calls other host services use: domains, per-domain file
policies, capability and parameter-check rules.")
set(_secpolicy_deb_hostsim_library libhostsim0 libs ""
    "simulated hypervisor host library for libsecpolicy"
    "libhostsim stands in for the host's kernel and closed control libraries on
an ordinary Linux machine: a kernel whose state lives in one SQLite file,
real extended attributes for file labels, a kernel log, a journal of every
accepted write and forced failures for testing. libsecpolicy reaches the
host through it.")
set(_secpolicy_deb_development libsecpolicy-dev libdevel
    "libsecpolicy0 (= ${_secpolicy_deb_version}), libhostsim0 (= ${_secpolicy_deb_version})"
    "development files for libsecpolicy"
    "The C++20 headers of libsecpolicy and of the host interfaces it uses, the
shared library links of libsecpolicy and libhostsim (the host the library
runs on here, which a program that uses the interfaces links as well), a
CMake package (find_package(SecPolicy)) and a pkg-config file (secpolicy).")
set(_secpolicy_deb_secpolicy secpolicy admin
    "libsecpolicy0 (= ${_secpolicy_deb_version}), libhostsim0 (= ${_secpolicy_deb_version}), hostsim (= ${_secpolicy_deb_version})"
    "tool to load, check and display the host's access-control policy"
    "The secpolicy command loads a policy tree, or parts of it, into the kernel,
displays what the kernel holds and makes the runtime calls of libsecpolicy
from the command line. With man pages, bash completion and an example host.")
set(_secpolicy_deb_hostsim hostsim admin "libhostsim0 (= ${_secpolicy_deb_version})"
    "simulated hypervisor host for libsecpolicy"
    "The hostsim command creates and inspects the state of the simulated host
that libhostsim provides: its kernel, file labels, kernel log, journal and
forced failures.")

configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright
               ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)
secpolicy_debian_changelog(${PROJECT_SOURCE_DIR}/CHANGELOG.md
                           ${PROJECT_BINARY_DIR}/debian/changelog.Debian)
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")

foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  list(GET _secpolicy_deb_${component} 0 package)
  list(GET _secpolicy_deb_${component} 1 section)
  list(GET _secpolicy_deb_${component} 2 depends)
  list(GET _secpolicy_deb_${component} 3 summary)
  list(GET _secpolicy_deb_${component} 4 description)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${section})
  set(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS "${depends}")
  set(CPACK_DEBIAN_${upper}_DESCRIPTION "${summary}\n${description}")
  # Every package carries its copyright, changelog and lintian overrides;
  # a plain `cmake --install` leaves them out.
  install(FILES ${PROJECT_BINARY_DIR}/debian/copyright
                ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/${package}.lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${package}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
# The shared libraries ask dpkg to run ldconfig through its trigger.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/triggers)
set(CPACK_DEBIAN_HOSTSIM_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_SECPOLICY_PACKAGE_SUGGESTS bash-completion)
set(CPACK_DEBIAN_HOSTSIM_PACKAGE_SUGGESTS bash-completion)

# Checked when cpack runs; afterwards each .deb is rewritten by dpkg-deb
# (cmake/DebianRepack.cmake).
set(CPACK_SECPOLICY_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_SECPOLICY_SOURCE_DATE_EPOCH ${SECPOLICY_SOURCE_DATE_EPOCH})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackChecks.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianRepack.cmake)

include(CPack)
