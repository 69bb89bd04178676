# What `cmake --install` puts where, and how a consumer finds it again.
#
# Installed layout (GNUInstallDirs, relative to the prefix), by component
# (each component is one Debian package, cmake/Packaging.cmake):
#   library      LIBDIR/libsecpolicy.so.0.1.0 (SONAME libsecpolicy.so.0) and,
#                once it has sources, libsecpolicy-admin.so.0
#   hostsim_library  LIBDIR/libhostsim.so.0.1.0 (SONAME libhostsim.so.0)
#   hostsim      bin/hostsim, share/hostsim/default.json, its man page and completion
#   secpolicy    bin/secpolicy, its man pages, completion, README and the example host
#   development  include/secpolicy/<folder>/*.h, secpolicy/version.h and
#                include/hostsim/admin.h, LIBDIR/lib{secpolicy,hostsim}.so, LIBDIR/cmake/SecPolicy/,
#                LIBDIR/pkgconfig/secpolicy.pc and secpolicy-admin.pc
#
# Headers keep their source paths under <prefix>/include (secpolicy/...,
# hostsim/admin.h), so -I<prefix>/include is the whole include path. The library reaches the
# host through libhostsim on this machine, so SecPolicy::secpolicy links
# SecPolicy::hostsim, and secpolicy.pc names both libraries.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SECPOLICY_INCLUDE_SUBDIR ${CMAKE_INSTALL_INCLUDEDIR}/secpolicy)
set(SECPOLICY_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/SecPolicy)

foreach(target secpolicy hostsim)
  target_include_directories(${target} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_compile_features(${target} INTERFACE cxx_std_20)
endforeach()
# libhostsim is installed beside libsecpolicy and versioned with it.
set_target_properties(hostsim PROPERTIES VERSION ${PROJECT_VERSION}
                                         SOVERSION ${PROJECT_VERSION_MAJOR})

# Installed outside the linker's own folders (a /usr/local or staged
# prefix), the programs find the installed libraries through a run path
# relative to themselves. In the linker's folders (/usr and its multiarch
# libdir, as packaged) they carry none.
list(APPEND _secpolicy_system_libdirs ${CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES}
     ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES})
if(NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST _secpolicy_system_libdirs)
  file(RELATIVE_PATH _secpolicy_bin_to_lib
       ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(secpolicy_cli hostsim_cli PROPERTIES
                        INSTALL_RPATH "$ORIGIN/${_secpolicy_bin_to_lib}")
  set_target_properties(secpolicy PROPERTIES INSTALL_RPATH "$ORIGIN")
  if(TARGET secpolicy_admin)
    set_target_properties(secpolicy_admin PROPERTIES INSTALL_RPATH "$ORIGIN")
  endif()
endif()

install(TARGETS secpolicy EXPORT SecPolicyTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
                NAMELINK_COMPONENT development)
install(TARGETS hostsim EXPORT SecPolicyTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT hostsim_library
                NAMELINK_COMPONENT development)
if(TARGET secpolicy_admin)
  target_include_directories(secpolicy_admin INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  set_target_properties(secpolicy_admin PROPERTIES EXPORT_NAME admin)
  install(TARGETS secpolicy_admin EXPORT SecPolicyTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
                  NAMELINK_COMPONENT development)
endif()
install(TARGETS secpolicy_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT secpolicy)
install(TARGETS hostsim_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT hostsim)

# Public headers: every header of the system folders except the library's
# internal ones, plus the host declarations those headers use.
set(SECPOLICY_INTERNAL_HEADERS
    secpolicy/policytext/error_texts.h
    secpolicy/domains/rule_set_impl.h
    secpolicy/kernelcalls/kernel_call.h
    secpolicy/admin/json_text.h
    secpolicy/admin/quiet_errors.h)
set(SECPOLICY_PLATFORM_HEADERS
    secpolicy/platform/host_ctl_exception.h
    secpolicy/platform/hyx_access.h
    secpolicy/platform/kernel_records.h
    secpolicy/platform/kernel_gate.h
    hostsim/admin.h)
file(GLOB SECPOLICY_PUBLIC_HEADERS RELATIVE ${PROJECT_SOURCE_DIR} CONFIGURE_DEPENDS
     secpolicy/policytext/*.h secpolicy/domains/*.h secpolicy/labels/*.h secpolicy/tardisks/*.h
     secpolicy/load/*.h secpolicy/kernelcalls/*.h secpolicy/admin/*.h secpolicy/analysis/*.h)
list(REMOVE_ITEM SECPOLICY_PUBLIC_HEADERS ${SECPOLICY_INTERNAL_HEADERS})
foreach(header IN LISTS SECPOLICY_PUBLIC_HEADERS SECPOLICY_PLATFORM_HEADERS)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${folder}
          COMPONENT development)
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/generated/secpolicy/version.h
        DESTINATION ${SECPOLICY_INCLUDE_SUBDIR} COMPONENT development)

# The CMake package: paths relative to where it is installed, whatever
# CMAKE_INSTALL_LIBDIR is. While the major version is 0 a minor release may
# break the API, so only the same minor version counts as compatible.
install(EXPORT SecPolicyTargets NAMESPACE SecPolicy:: DESTINATION ${SECPOLICY_CMAKE_DIR}
        COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/SecPolicyConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/SecPolicyConfig.cmake
                              INSTALL_DESTINATION ${SECPOLICY_CMAKE_DIR})
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(_secpolicy_compatibility SameMinorVersion)
else()
  set(_secpolicy_compatibility SameMajorVersion)
endif()
write_basic_package_version_file(${PROJECT_BINARY_DIR}/SecPolicyConfigVersion.cmake
                                 COMPATIBILITY ${_secpolicy_compatibility})
install(FILES ${PROJECT_BINARY_DIR}/SecPolicyConfig.cmake
              ${PROJECT_BINARY_DIR}/SecPolicyConfigVersion.cmake
        DESTINATION ${SECPOLICY_CMAKE_DIR} COMPONENT development)

# pkg-config: the prefix is found from where the file lies, by the relative
# path from its folder up to the prefix (three levels under a multiarch
# libdir, two under lib/). A libdir outside the prefix is written as it is.
set(_secpolicy_pc_dir ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig)
cmake_path(IS_PREFIX CMAKE_INSTALL_PREFIX "${_secpolicy_pc_dir}" NORMALIZE _secpolicy_pc_inside)
if(_secpolicy_pc_inside)
  file(RELATIVE_PATH _secpolicy_pc_up ${_secpolicy_pc_dir} ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" _secpolicy_pc_up "${_secpolicy_pc_up}")
  set(SECPOLICY_PC_PREFIX "\${pcfiledir}/${_secpolicy_pc_up}")
  file(RELATIVE_PATH SECPOLICY_PC_LIBDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR})
  set(SECPOLICY_PC_LIBDIR "\${prefix}/${SECPOLICY_PC_LIBDIR}")
else()
  set(SECPOLICY_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
  set(SECPOLICY_PC_LIBDIR ${CMAKE_INSTALL_FULL_LIBDIR})
endif()
if(IS_ABSOLUTE ${CMAKE_INSTALL_INCLUDEDIR})
  set(SECPOLICY_PC_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
else()
  set(SECPOLICY_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/secpolicy.pc.in ${PROJECT_BINARY_DIR}/secpolicy.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/secpolicy.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
if(TARGET secpolicy_admin)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/secpolicy-admin.pc.in
                 ${PROJECT_BINARY_DIR}/secpolicy-admin.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/secpolicy-admin.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endif()

install(FILES hostsim/profiles/default.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/hostsim COMPONENT hostsim)
install(FILES completion/secpolicy
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT secpolicy)
install(FILES completion/hostsim
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT hostsim)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT secpolicy)
install(DIRECTORY examples/host DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        USE_SOURCE_PERMISSIONS COMPONENT secpolicy)

include(${CMAKE_CURRENT_LIST_DIR}/ManPages.cmake)
