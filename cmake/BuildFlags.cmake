# Hardening and symbol visibility for every target of the project. Included
# before any target is created: PIE and the directory-wide options apply to
# the targets defined after it.
#
# SECPOLICY_HARDENING (default ON): stack protector, full RELRO with
# immediate binding, PIE executables, and _FORTIFY_SOURCE in the optimised
# configurations (it needs optimisation and it hides faults from the
# sanitizers, so builds with -fsanitize leave it out).
option(SECPOLICY_HARDENING "Build with stack protector, fortified libc calls, full RELRO and PIE" ON)

if(SECPOLICY_HARDENING)
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES C CXX)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  add_compile_options(-fstack-protector-strong)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
  if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    # -U first: some compilers define it already, and a redefinition warns.
    add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  endif()
endif()

# Paths of the build tree stay out of the binaries, so two build folders of
# one commit give the same bytes.
add_compile_options(-ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
# The debug information's compilation folder is the build folder itself,
# which the map above (with its slash) does not cover, and a build ID hashes
# it: packages built in two folders would differ. Mapped to "." only on
# request (the package stage asks), since a debugger then looks for the
# generated headers relative to where it runs. Given last, it is tried first.
option(SECPOLICY_REPRODUCIBLE_DEBUG_INFO "Name no build folder in the debug information" OFF)
if(SECPOLICY_REPRODUCIBLE_DEBUG_INFO)
  add_compile_options(-fdebug-prefix-map=${PROJECT_BINARY_DIR}=.)
endif()
# The build tree's run paths are relative too: the build ID hashes them, and
# it stays in the installed binaries after the run path is taken out.
set(CMAKE_BUILD_RPATH_USE_ORIGIN ON)

# The shared libraries export their namespaces' API and nothing else: the
# standard library's and nlohmann-json's template instances stay inside
# (they have default visibility in their own headers, so the link decides).
function(secpolicy_export_map target map)
  target_compile_options(${target} PRIVATE -fvisibility-inlines-hidden)
  target_link_options(${target} PRIVATE
                      LINKER:--version-script=${PROJECT_SOURCE_DIR}/cmake/exports/${map})
  set_property(TARGET ${target} APPEND PROPERTY
               LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/exports/${map})
endfunction()
