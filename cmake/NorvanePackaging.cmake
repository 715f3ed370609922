# SPDX-License-Identifier: MIT
# What hosts build against (CMake package configuration and pkg-config files) and the Debian
# packages: "norvane" with what a machine runs, "norvane-dev" with what a host developer needs.
include(CMakePackageConfigHelpers)
norvane_wrap_build_includes()

# A CMake package `name` of the targets in the export set `<name>Targets`, with its configuration
# from `<name>Config.cmake.in` here and a version file: same major version, this project's version.
function(norvane_install_package name namespace)
    set(dir ${NORVANE_INSTALL_CMAKEDIR}/${name})
    set(out ${CMAKE_BINARY_DIR}/package)
    install(EXPORT ${name}Targets NAMESPACE ${namespace} DESTINATION ${dir} COMPONENT Development)
    configure_package_config_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${name}Config.cmake.in
        ${out}/${name}Config.cmake INSTALL_DESTINATION ${dir})
    write_basic_package_version_file(${out}/${name}ConfigVersion.cmake
        VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
    install(FILES ${out}/${name}Config.cmake ${out}/${name}ConfigVersion.cmake
            DESTINATION ${dir} COMPONENT Development)
endfunction()

# Varnex: the live-stream manager with the SDK and base library it is built on.
if(TARGET Varnex)
    norvane_install_package(Varnex Varnex::)

    # The prefix is found from the file's own place, so a moved tree still works.
    norvane_relative_path(NORVANE_PC_TO_PREFIX ${NORVANE_INSTALL_PKGCONFIGDIR} "")
    configure_file(${CMAKE_CURRENT_LIST_DIR}/varnex.pc.in ${CMAKE_BINARY_DIR}/package/varnex.pc @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/package/varnex.pc
            DESTINATION ${NORVANE_INSTALL_PKGCONFIGDIR} COMPONENT Development)
endif()

# The platform layer for control hosts: creation by ProgID and the object services.
if(TARGET PlatformCom)
    norvane_install_package(NorvanePlatform Platform::)
endif()

# Debian packages. Installed under /usr; run-time dependencies come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Video-surveillance client: launcher, live-stream manager, web map control")
set(CPACK_PACKAGE_CONTACT "Norvane developers <dev@norvane.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME norvane)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION video)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_GENERATE_SHLIBS ON)
if(NORVANE_EXTRACTOR MATCHES "7zz$")
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "7zip")
elseif(NORVANE_EXTRACTOR)
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "p7zip-full")
endif()
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME norvane-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)

# The web map control is registered in the system-wide class registry after installation and
# unregistered before removal; both steps do nothing while the control or the tool is absent.
set(NORVANE_DEB_REGSVR ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/regsvr)
set(NORVANE_SYSTEM_REGISTRY /var/lib/norvane/platform-registry.sqlite)
set(NORVANE_DEB_TESSEL ${CPACK_PACKAGING_INSTALL_PREFIX}/${NORVANE_INSTALL_TESSELDIR}/Tessel.so)
foreach(script postinst prerm)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/${script}.in ${CMAKE_BINARY_DIR}/package/debian/${script}
        @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                               WORLD_READ WORLD_EXECUTE)
endforeach()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/package/debian/postinst ${CMAKE_BINARY_DIR}/package/debian/prerm)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
cpack_add_component(Runtime DISPLAY_NAME "Programs and libraries")
cpack_add_component(Development DISPLAY_NAME "Headers and package files" DEPENDS Runtime)
