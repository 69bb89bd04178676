# Man pages: scdoc sources in doc/, built with the rest. Each page is built
# plain (for `man ./secpolicy.8`) and gzipped (installed). The date in them
# is the last commit's, so the pages are the same on every build of it; the
# footer names the version ("secpolicy 0.1.0"), given to scdoc on the page's
# first line, so the sources need not be edited for a release.
#
# SECPOLICY_MAN_PAGES: AUTO builds them when scdoc is found, ON fails the
# configure without scdoc, OFF neither builds nor installs them.
include(${CMAKE_CURRENT_LIST_DIR}/SourceDate.cmake)
set(SECPOLICY_MAN_PAGES AUTO CACHE STRING "Build and install the man pages: AUTO, ON or OFF")
set_property(CACHE SECPOLICY_MAN_PAGES PROPERTY STRINGS AUTO ON OFF)
if(NOT SECPOLICY_MAN_PAGES MATCHES "^(AUTO|ON|OFF)$")
  message(FATAL_ERROR "SECPOLICY_MAN_PAGES is '${SECPOLICY_MAN_PAGES}': use AUTO, ON or OFF")
endif()
if(SECPOLICY_MAN_PAGES STREQUAL "OFF")
  return()
endif()

find_program(SCDOC_EXECUTABLE scdoc)
find_program(GZIP_EXECUTABLE gzip)
if(NOT SCDOC_EXECUTABLE OR NOT GZIP_EXECUTABLE)
  if(SECPOLICY_MAN_PAGES STREQUAL "ON")
    message(FATAL_ERROR "SECPOLICY_MAN_PAGES is ON but scdoc or gzip is missing: "
                        "install scdoc, or configure with -DSECPOLICY_MAN_PAGES=OFF")
  endif()
  message(STATUS "scdoc or gzip not found: man pages are neither built nor installed")
  return()
endif()

set(_secpolicy_man_outputs)
foreach(page secpolicy.8 hostsim.8 secpolicy.5)
  set(source ${PROJECT_SOURCE_DIR}/doc/${page}.scd)
  set(output ${PROJECT_BINARY_DIR}/doc/${page})
  string(REGEX REPLACE ".*\\." "" section ${page})
  add_custom_command(
    OUTPUT ${output} ${output}.gz
    COMMAND sed "1s/^[a-z]*([0-9])$/& \"${PROJECT_NAME} ${PROJECT_VERSION}\"/" ${source}
            | ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${SECPOLICY_SOURCE_DATE_EPOCH}
              ${SCDOC_EXECUTABLE} > ${output}
    COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${output} > ${output}.gz
    DEPENDS ${source}
    COMMENT "Building man page ${page}"
    VERBATIM)
  list(APPEND _secpolicy_man_outputs ${output} ${output}.gz)
  if(page MATCHES "^hostsim")
    set(component hostsim)
  else()
    set(component secpolicy)
  endif()
  install(FILES ${output}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
          COMPONENT ${component})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${_secpolicy_man_outputs})
