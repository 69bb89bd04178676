# What `cmake --install` puts where, and how a consumer finds it again.
#
# Installed layout (GNUInstallDirs, relative to the prefix):
#   bin/secpolicy, bin/hostsim
#   LIBDIR/libsecpolicy.so.0.1.0 (SONAME libsecpolicy.so.0), libhostsim.so.0.1.0
#   include/secpolicy/<folder>/*.h      the exported API, platform/ and hostsim/admin.h
#   LIBDIR/cmake/SecPolicy/             find_package(SecPolicy): SecPolicy::secpolicy
#   LIBDIR/pkgconfig/secpolicy.pc
#   share/hostsim/default.json          the profile built into libhostsim, for reference
#   share/man/man5, man8; share/bash-completion/completions; share/doc/secpolicy
#
# The headers include one another as "platform/...", "domains/..." and so on,
# so a consumer's include path holds both include/ (for <secpolicy/...>) and
# include/secpolicy (for those inner includes). The library reaches the host
# through libhostsim on this machine, so SecPolicy::secpolicy links
# SecPolicy::hostsim, and secpolicy.pc names both libraries.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SECPOLICY_INCLUDE_SUBDIR ${CMAKE_INSTALL_INCLUDEDIR}/secpolicy)
set(SECPOLICY_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/SecPolicy)

foreach(target secpolicy hostsim)
  target_include_directories(${target} INTERFACE
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
    $<INSTALL_INTERFACE:${SECPOLICY_INCLUDE_SUBDIR}>)
  target_compile_features(${target} INTERFACE cxx_std_20)
endforeach()
# libhostsim is installed beside libsecpolicy and versioned with it.
set_target_properties(hostsim PROPERTIES VERSION ${PROJECT_VERSION}
                                         SOVERSION ${PROJECT_VERSION_MAJOR})

# Installed programs find the installed libraries wherever the prefix is,
# which keeps a staged install (and an unpacked .deb) runnable as it is.
file(RELATIVE_PATH _secpolicy_bin_to_lib
     ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(secpolicy_cli hostsim_cli PROPERTIES
                      INSTALL_RPATH "$ORIGIN/${_secpolicy_bin_to_lib}")
set_target_properties(secpolicy PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS secpolicy hostsim EXPORT SecPolicyTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT development)
install(TARGETS secpolicy_cli hostsim_cli
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

# Public headers: every header of the system folders except the library's
# internal ones, plus the host declarations those headers use.
set(SECPOLICY_INTERNAL_HEADERS
    policytext/error_texts.h
    domains/rule_set_impl.h
    kernelcalls/kernel_call.h)
set(SECPOLICY_PLATFORM_HEADERS
    platform/host_ctl_exception.h
    platform/hyx_access.h
    platform/kernel_records.h
    platform/kernel_gate.h
    hostsim/admin.h)
file(GLOB SECPOLICY_PUBLIC_HEADERS RELATIVE ${PROJECT_SOURCE_DIR} CONFIGURE_DEPENDS
     policytext/*.h domains/*.h labels/*.h tardisks/*.h load/*.h kernelcalls/*.h)
list(REMOVE_ITEM SECPOLICY_PUBLIC_HEADERS ${SECPOLICY_INTERNAL_HEADERS})
foreach(header IN LISTS SECPOLICY_PUBLIC_HEADERS SECPOLICY_PLATFORM_HEADERS)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${SECPOLICY_INCLUDE_SUBDIR}/${folder}
          COMPONENT development)
endforeach()

install(EXPORT SecPolicyTargets NAMESPACE SecPolicy:: DESTINATION ${SECPOLICY_CMAKE_DIR}
        COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/SecPolicyConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/SecPolicyConfig.cmake
                              INSTALL_DESTINATION ${SECPOLICY_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/SecPolicyConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/SecPolicyConfig.cmake
              ${PROJECT_BINARY_DIR}/SecPolicyConfigVersion.cmake
        DESTINATION ${SECPOLICY_CMAKE_DIR} COMPONENT development)

configure_file(${CMAKE_CURRENT_LIST_DIR}/secpolicy.pc.in ${PROJECT_BINARY_DIR}/secpolicy.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/secpolicy.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

install(FILES hostsim/profiles/default.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/hostsim COMPONENT runtime)
install(FILES completion/secpolicy completion/hostsim
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT runtime)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
install(DIRECTORY examples/host DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        USE_SOURCE_PERMISSIONS COMPONENT runtime)

include(${CMAKE_CURRENT_LIST_DIR}/ManPages.cmake)
