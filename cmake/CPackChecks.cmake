# Read by cpack before it packages. The Debian packages install under /usr
# with multiarch libraries and no run paths: that takes a tree configured
# for /usr, and anything else would give packages that break on install.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_SECPOLICY_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "The Debian packages are built from a tree configured with "
                      "-DCMAKE_INSTALL_PREFIX=/usr (this one has ${CPACK_SECPOLICY_INSTALL_PREFIX})")
endif()
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_SECPOLICY_SOURCE_DATE_EPOCH})
