# Installation and packages. Natively `cmake --install` puts the programs (kvx, kvxsim, the
# terminal Keyport and Keywiper), libkvx.so with its SONAME, the chief header as kvx/qda.h, a
# pkg-config file and the configuration file (etc/kvx/KVX.INI, which kvx falls back to) in the
# usual places; `cpack -G DEB` and `cpack -G TGZ` package the same tree. The Windows builds
# package the CD folder as a ZIP (`cpack -G ZIP`), which is what ships on the device.
include(GNUInstallDirs)

if(NOT WIN32)
    # The library's ABI is its fourteen exports and the packed record: the major version names it.
    set_target_properties(kvx PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
    install(TARGETS kvx LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
    install(FILES ${CMAKE_SOURCE_DIR}/lib/frame/qda.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kvx)

    set(kvx_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
    file(RELATIVE_PATH KVX_PC_TO_PREFIX /root/${kvx_pc_dir} /root)
    configure_file(${CMAKE_SOURCE_DIR}/cmake/kvx.pc.in ${CMAKE_BINARY_DIR}/kvx.pc @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/kvx.pc DESTINATION ${kvx_pc_dir})

    set(kvx_programs kvx_tool kvxsim)
    foreach(program keyport keywiper)
        if(TARGET ${program})
            list(APPEND kvx_programs ${program})
        endif()
    endforeach()
    install(TARGETS ${kvx_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    # The configuration file: PREFIX/etc/kvx/KVX.INI, and /etc/kvx/KVX.INI for the system
    # prefix /usr (the packages), decided when installing, as the prefix may change then.
    install(CODE "
        if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
            set(kvx_etc /etc/kvx)
        else()
            set(kvx_etc \"\${CMAKE_INSTALL_PREFIX}/etc/kvx\")
        endif()
        file(INSTALL DESTINATION \"\${kvx_etc}\" TYPE FILE RENAME KVX.INI
            FILES \"${CMAKE_SOURCE_DIR}/cmake/cd-config.ini\")
    ")
    file(WRITE ${CMAKE_BINARY_DIR}/debian/conffiles "/etc/kvx/KVX.INI\n")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/conffiles)

    set(CPACK_GENERATOR "DEB;TGZ")
    set(CPACK_STRIP_FILES ON)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "KVX toolkit maintainers <kvx@example.invalid>")
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
else()
    # The CD folder as it ships on the device (KVX.DLL, KVX.INI, Keyport, Keywiper and their
    # resource libraries).
    install(DIRECTORY ${CMAKE_BINARY_DIR}/cd/ DESTINATION .)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME "kvx-cd-${PROJECT_VERSION}-${CMAKE_SYSTEM_PROCESSOR}")
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()

set(CPACK_PACKAGE_NAME kvx)
set(CPACK_PACKAGE_VENDOR "KVX toolkit")
set(CPACK_PACKAGE_CONTACT "kvx@example.invalid")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Command line, applications and library for the KVX secure USB storage device")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
include(CPack)
