# Run by cpack after it writes the .debs: each is unpacked and built again
# with dpkg-deb, which
#  - drops the postinst/postrm that CPack adds to call ldconfig (the
#    packages activate dpkg's ldconfig trigger instead, and have no
#    maintainer scripts of their own), and
#  - writes the archive in a fixed order with every file time clamped to
#    SOURCE_DATE_EPOCH and root ownership, so one commit gives the same bytes.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(DPKG_DEB dpkg-deb REQUIRED)
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_SECPOLICY_SOURCE_DATE_EPOCH})
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name ${deb} NAME)
  set(tree ${CPACK_TOPLEVEL_DIRECTORY}/repack/${name})
  file(REMOVE_RECURSE ${tree})
  file(MAKE_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY}/repack)
  execute_process(COMMAND ${DPKG_DEB} --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  foreach(script postinst postrm)
    if(EXISTS ${tree}/DEBIAN/${script})
      file(READ ${tree}/DEBIAN/${script} text)
      if(NOT text MATCHES "ldconfig")
        message(FATAL_ERROR "${deb}: unexpected ${script}")
      endif()
      file(REMOVE ${tree}/DEBIAN/${script})
    endif()
  endforeach()
  execute_process(COMMAND ${DPKG_DEB} --root-owner-group -Zxz --build ${tree} ${deb}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
