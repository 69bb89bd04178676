# Man pages: scdoc sources in doc/, built with the rest when scdoc is there.
# Each page is built plain (for `man ./secpolicy.8`) and gzipped (installed).
find_program(SCDOC_EXECUTABLE scdoc)
find_program(GZIP_EXECUTABLE gzip)
set(SECPOLICY_MAN_PAGES secpolicy.8 hostsim.8 secpolicy.5)

if(NOT SCDOC_EXECUTABLE OR NOT GZIP_EXECUTABLE)
  message(STATUS "scdoc or gzip not found: man pages are neither built nor installed")
  return()
endif()

set(_secpolicy_man_outputs)
foreach(page IN LISTS SECPOLICY_MAN_PAGES)
  set(source ${PROJECT_SOURCE_DIR}/doc/${page}.scd)
  set(output ${PROJECT_BINARY_DIR}/doc/${page})
  string(REGEX REPLACE ".*\\." "" section ${page})
  add_custom_command(
    OUTPUT ${output} ${output}.gz
    COMMAND ${SCDOC_EXECUTABLE} < ${source} > ${output}
    COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${output} > ${output}.gz
    DEPENDS ${source}
    COMMENT "Building man page ${page}"
    VERBATIM)
  list(APPEND _secpolicy_man_outputs ${output} ${output}.gz)
  install(FILES ${output}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
          COMPONENT runtime)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${_secpolicy_man_outputs})
