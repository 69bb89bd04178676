# An include path is the file's path from the source root:
# "secpolicy/domains/rule_set.h", "hostsim/state.h", "cli/common/numbers.h".
# The installed headers keep the same paths under <prefix>/include. The one
# generated header, secpolicy/version.h, lives in build/generated.
set(SECPOLICY_BUILD_INCLUDE_DIRS ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)

configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in
               ${PROJECT_BINARY_DIR}/generated/secpolicy/version.h @ONLY)
