# SPDX-License-Identifier: MIT
# Where `cmake --install` puts things, and the helpers each folder's install rules use.
#
# Layout under the prefix (GNUInstallDirs):
#   bin/                       tools for people, and a link to the launcher
#   lib/                       shared libraries with versioned names and sonames
#   lib/norvane/               the launcher's program directory: Norvane, the extractor link "7z",
#                              "Solutions/" for the main frame plug-in, "Upgrade/" for the upgrade
#                              tool, "styles/" with the style plug-in shell; the web map
#                              control Tessel.so
#   include/                   public headers of what hosts build against
#   lib/cmake/<Package>/       CMake package configuration
#   lib/pkgconfig/             pkg-config files
# Run-time search paths are relative ($ORIGIN), so the installed tree works wherever it is moved.
# Tests and benchmarks have no install rules; the examples only when asked for, as the component
# "Examples".
include(GNUInstallDirs)

# Two components: what a machine runs, and what a host developer builds against.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME Runtime)

set(NORVANE_INSTALL_PROGRAMDIR ${CMAKE_INSTALL_LIBDIR}/norvane)
# The web map control, registered by this path.
set(NORVANE_INSTALL_TESSELDIR ${NORVANE_INSTALL_PROGRAMDIR})
set(NORVANE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake)
set(NORVANE_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The way from an installed folder to another, for $ORIGIN paths and relative links.
function(norvane_relative_path out from to)
    file(RELATIVE_PATH rel "/root/${from}" "/root/${to}")
    string(REGEX REPLACE "/+$" "" rel "${rel}")
    if(rel STREQUAL "")
        set(rel ".")
    endif()
    set(${out} "${rel}" PARENT_SCOPE)
endfunction()

# A shared library: versioned name and soname, found beside its peers. With HEADERS, the folder
# whose contents are its public headers; with EXPORT, the package set it belongs to. With neither,
# nobody builds against it, so no development link either.
function(norvane_install_library target)
    cmake_parse_arguments(arg "" "HEADERS;EXPORT" "" ${ARGN})
    set_target_properties(${target} PROPERTIES
        VERSION ${PROJECT_VERSION}
        SOVERSION ${PROJECT_VERSION_MAJOR}
        INSTALL_RPATH "$ORIGIN")
    set(export_args)
    if(arg_EXPORT)
        set(export_args EXPORT ${arg_EXPORT})
        set_property(GLOBAL APPEND PROPERTY NORVANE_EXPORTED_TARGETS ${target})
    endif()
    if(arg_HEADERS OR arg_EXPORT)
        install(TARGETS ${target} ${export_args}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
                COMPONENT Runtime NAMELINK_COMPONENT Development
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
            INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    else()
        install(TARGETS ${target} ${export_args}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_SKIP
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
    endif()
    if(arg_HEADERS)
        install(DIRECTORY ${arg_HEADERS}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
            COMPONENT Development FILES_MATCHING PATTERN "*.h")
    endif()
endfunction()

# A program for people, in bin/, that finds our libraries in lib/.
function(norvane_install_program target)
    norvane_relative_path(rel ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_LIBDIR})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${rel}")
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
endfunction()

# A plug-in loaded by file name: no soname, no development link. EXAMPLE puts it in the Examples
# component, which only `cmake --install <build> --component Examples` installs.
function(norvane_install_plugin target destination)
    cmake_parse_arguments(arg "EXAMPLE" "" "" ${ARGN})
    set(component COMPONENT Runtime)
    if(arg_EXAMPLE)
        set(component COMPONENT Examples EXCLUDE_FROM_ALL)
    endif()
    norvane_relative_path(rel ${destination} ${CMAKE_INSTALL_LIBDIR})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${rel}")
    install(TARGETS ${target} LIBRARY DESTINATION ${destination} ${component}
                              RUNTIME DESTINATION ${destination} ${component})
endfunction()

# A relative symbolic link installed as `destination/name` pointing at `target_path` (a path
# under the prefix, or an absolute one outside it).
function(norvane_install_link name destination target_path)
    if(IS_ABSOLUTE "${target_path}")
        set(link "${target_path}")
    else()
        norvane_relative_path(link ${destination} ${target_path})
    endif()
    set(dir ${CMAKE_BINARY_DIR}/install-links/${destination})
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK "${link}" ${dir}/${name} SYMBOLIC)
    install(FILES ${dir}/${name} DESTINATION ${destination} COMPONENT Runtime)
endfunction()

# Folders name their include directories in the source tree; installed users get the prefix's
# include directory instead. Run once every folder has added what it adds.
function(norvane_wrap_build_includes)
    get_property(targets GLOBAL PROPERTY NORVANE_EXPORTED_TARGETS)
    foreach(target IN LISTS targets)
        get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
        if(NOT dirs)
            continue()
        endif()
        set(wrapped)
        foreach(dir IN LISTS dirs)
            if(dir MATCHES "^\\$<")
                list(APPEND wrapped "${dir}")
            else()
                list(APPEND wrapped "$<BUILD_INTERFACE:${dir}>")
            endif()
        endforeach()
        set_property(TARGET ${target} PROPERTY INTERFACE_INCLUDE_DIRECTORIES "${wrapped}")
    endforeach()
endfunction()
