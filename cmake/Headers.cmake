# Headers include one another as "secpolicy/<folder>/<file>.h", the path
# they have under an installed include/. In the build tree the same path
# works through build/include/secpolicy, a link to the source root, and
# build/generated/secpolicy holds the generated version.h. Both folders are
# in SECPOLICY_BUILD_INCLUDE_DIRS, which the two libraries publish (with the
# source root, for the tools' and tests' own "cli/..." and "tests/..."
# includes, which are never installed).
set(SECPOLICY_BUILD_INCLUDE_DIRS ${PROJECT_BINARY_DIR}/include ${PROJECT_BINARY_DIR}/generated)

file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/include)
if(NOT IS_SYMLINK ${PROJECT_BINARY_DIR}/include/secpolicy)
  file(CREATE_LINK ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/include/secpolicy SYMBOLIC)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in
               ${PROJECT_BINARY_DIR}/generated/secpolicy/version.h @ONLY)
