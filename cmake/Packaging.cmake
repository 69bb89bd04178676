# One Debian binary package, "secpolicy": the libraries, the tools, the
# headers and CMake/pkg-config files, man pages, completions and docs.
# `cpack` in a configured build tree writes it there; install it with
# `apt-get install ./secpolicy_<version>_<arch>.deb`.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME secpolicy)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "secpolicy developers")
set(CPACK_PACKAGE_CONTACT "secpolicy developers <secpolicy@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Loads, applies and displays the access-control policy of the host")
set(CPACK_PACKAGE_DESCRIPTION
    "libsecpolicy reads the host's policy tree (objects, domains, file labels,
tardisk policies), writes it into the kernel and displays it back; it also
offers the runtime calls other host services use. The package holds the
library, the secpolicy and hostsim tools, the simulated host library behind
them, headers with CMake and pkg-config files, man pages and bash
completions.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies (libsqlite3-0, libstdc++6, ...) come from the binaries;
# libsecpolicy and libhostsim are in the package itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${PROJECT_BINARY_DIR} ${PROJECT_BINARY_DIR}/hostsim)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)

include(CPack)
