include_guard(GLOBAL)
# SECPOLICY_SOURCE_DATE_EPOCH: the one date that goes into generated files
# (man pages, the Debian changelog, the packages' file times), so a commit
# always builds the same bytes. Taken from SOURCE_DATE_EPOCH when the
# environment sets it, else from the last commit, else 0.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(SECPOLICY_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE SECPOLICY_SOURCE_DATE_EPOCH
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()
if(NOT SECPOLICY_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  set(SECPOLICY_SOURCE_DATE_EPOCH 0)
endif()
