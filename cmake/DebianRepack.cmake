# Run by cpack after it writes the .debs: each, and the -dbgsym .ddeb beside
# it, is unpacked and built again with dpkg-deb, which
#  - drops the postinst/postrm that CPack adds to call ldconfig (the
#    packages activate dpkg's ldconfig trigger instead, and have no
#    maintainer scripts of their own),
#  - gives each -dbgsym package what Debian's own have: md5sums of its files
#    by their paths in the package (CPack writes its build folder's paths)
#    and usr/share/doc/PACKAGE-dbgsym as a link to the documentation of the
#    package it depends on, copyright and changelog included, and
#  - writes the archive in a fixed order with every file time clamped to
#    SOURCE_DATE_EPOCH and root ownership, so one commit gives the same bytes.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(DPKG_DEB dpkg-deb REQUIRED)
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_SECPOLICY_SOURCE_DATE_EPOCH})
set(_secpolicy_packages)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  list(APPEND _secpolicy_packages ${deb})
  # NAME_VERSION_ARCH.deb -> NAME-dbgsym_VERSION_ARCH.ddeb
  string(REGEX REPLACE "/([^/_]+)_([^/]+)\\.deb$" "/\\1-dbgsym_\\2.ddeb" ddeb ${deb})
  if(EXISTS ${ddeb} AND NOT ddeb STREQUAL deb)
    list(APPEND _secpolicy_packages ${ddeb})
  endif()
endforeach()
list(REMOVE_DUPLICATES _secpolicy_packages)
foreach(deb IN LISTS _secpolicy_packages)
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
  if(deb MATCHES "/([^/_]+)-dbgsym_[^/]+\\.ddeb$")
    set(package ${CMAKE_MATCH_1})
    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${tree} ${tree}/usr/*)
    list(SORT files)
    set(sums "")
    foreach(file IN LISTS files)
      file(MD5 ${tree}/${file} sum)
      string(APPEND sums "${sum}  ${file}\n")
    endforeach()
    file(WRITE ${tree}/DEBIAN/md5sums "${sums}")
    file(MAKE_DIRECTORY ${tree}/usr/share/doc)
    file(CREATE_LINK ${package} ${tree}/usr/share/doc/${package}-dbgsym SYMBOLIC)
  endif()
  execute_process(COMMAND ${DPKG_DEB} --root-owner-group -Zxz --build ${tree} ${deb}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
