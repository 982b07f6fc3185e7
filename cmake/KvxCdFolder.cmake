# The device's CD partition for a Windows build: the folder "cd" in the build tree holds what
# ships on it (the library, its configuration file, Keyport, Keywiper and their English resource
# libraries, all with one product prefix), and "cd.iso" is its ISO 9660 image, made with xorriso.
# The staging runs at the end of the top-level directory, when every program target exists.
include_guard(GLOBAL)

set(KVX_CD_PREFIX "" CACHE STRING
    "Product prefix of the files on the device's CD (empty: KVX.DLL, LCK.EXE, PRT.EXE, ...)")
if(NOT KVX_CD_PREFIX MATCHES "^[A-Z0-9_]*$")
    message(FATAL_ERROR "KVX_CD_PREFIX: upper-case letters, digits and _ only")
endif()
set(KVX_CD_CONFIG ${CMAKE_CURRENT_LIST_DIR}/cd-config.ini CACHE FILEPATH
    "Configuration file staged as prefix + KVX.INI")
find_program(KVX_XORRISO xorriso)

function(kvx_stage_cd_folder)
    set(dir ${CMAKE_BINARY_DIR}/cd)
    set(p ${KVX_CD_PREFIX})
    # Target and the name it gets on the CD.
    set(pairs kvx ${p}KVX.DLL keyport_win32 ${p}LCK.EXE keyport_english ${p}KEG.DLL
        keywiper_win32 ${p}PRT.EXE keywiper_english ${p}WEG.DLL)
    set(staged "")
    set(grafts "")
    set(names "")
    while(pairs)
        list(POP_FRONT pairs target name)
        if(NOT TARGET ${target})
            message(STATUS "CD folder: no target ${target}, ${name} is not staged")
            continue()
        endif()
        # What ships carries no debugging information.
        if(CMAKE_STRIP)
            set(copy ${CMAKE_STRIP} -o ${dir}/${name} $<TARGET_FILE:${target}>)
        else()
            set(copy ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${dir}/${name})
        endif()
        add_custom_command(OUTPUT ${dir}/${name}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
            COMMAND ${copy}
            DEPENDS ${target}
            COMMENT "Staging ${name} on the CD"
            VERBATIM)
        list(APPEND staged ${dir}/${name})
        list(APPEND grafts /${name}=${dir}/${name})
        list(APPEND names ${name})
    endwhile()
    add_custom_command(OUTPUT ${dir}/${p}KVX.INI
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
        COMMAND ${CMAKE_COMMAND} -E copy ${KVX_CD_CONFIG} ${dir}/${p}KVX.INI
        DEPENDS ${KVX_CD_CONFIG}
        COMMENT "Staging ${p}KVX.INI on the CD"
        VERBATIM)
    list(APPEND staged ${dir}/${p}KVX.INI)
    list(APPEND grafts /${p}KVX.INI=${dir}/${p}KVX.INI)
    list(APPEND names ${p}KVX.INI)
    add_custom_target(cd_folder ALL
        COMMAND ${CMAKE_COMMAND} -DKVX_CD_DIR=${dir} "-DKVX_CD_KEEP=${names}"
                -P ${CMAKE_SOURCE_DIR}/cmake/PruneCdFolder.cmake
        DEPENDS ${staged}
        VERBATIM)
    set_property(GLOBAL PROPERTY KVX_CD_FILES ${names})

    if(KVX_XORRISO)
        set(iso ${CMAKE_BINARY_DIR}/cd.iso)
        # Exactly the staged files (by graft points, not the folder, so nothing stale slips in);
        # Joliet names beside the ISO 9660 ones.
        add_custom_command(OUTPUT ${iso}
            COMMAND ${CMAKE_COMMAND} -E rm -f ${iso}
            COMMAND ${KVX_XORRISO} -as mkisofs -quiet -V CORVANE -J -r -graft-points
                    -o ${iso} ${grafts}
            DEPENDS ${staged}
            COMMENT "Making the CD image cd.iso"
            VERBATIM)
        add_custom_target(cd_iso ALL DEPENDS ${iso})
    else()
        message(STATUS "xorriso not found: the CD image cd.iso is not made (install xorriso)")
    endif()

    if(KVX_BUILD_TESTS)
        include(${CMAKE_SOURCE_DIR}/tests/gui/gui_tests.cmake)
    endif()
endfunction()

get_property(kvx_cd_deferred GLOBAL PROPERTY KVX_CD_DEFERRED)
if(NOT kvx_cd_deferred)
    set_property(GLOBAL PROPERTY KVX_CD_DEFERRED TRUE)
    cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL kvx_stage_cd_folder)
endif()
