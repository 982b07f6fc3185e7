# Checks of the staged CD folder and the GUI tests of the programs under Wine and Xvfb (every
# Windows build; the i686 one under 32-bit Wine). Included by the CD folder staging at the end of
# the top-level directory, where every program target exists.
get_property(kvx_cd_names GLOBAL PROPERTY KVX_CD_FILES)
set(kvx_gui_dir ${CMAKE_SOURCE_DIR}/tests/gui)

if(KVX_XORRISO)
    set(kvx_cd_iso ${CMAKE_BINARY_DIR}/cd.iso)
else()
    set(kvx_cd_iso -)
endif()
# The check is also a script of its own in the build folder: it needs no Wine, so it runs where
# the build's programs cannot (scripts/test-all.sh), and there CTest cannot list the suite.
list(JOIN kvx_cd_names " " kvx_cd_name_list)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/check-cd.sh CONTENT "#!/bin/sh
exec bash '${kvx_gui_dir}/check_cd.sh' '${CMAKE_OBJDUMP}' '${CMAKE_BINARY_DIR}/cd' \
    '${KVX_CD_PREFIX}' '$<TARGET_FILE:kvx>' '${kvx_cd_iso}' ${kvx_cd_name_list}
")
add_test(NAME cd_folder_and_image COMMAND sh ${CMAKE_BINARY_DIR}/check-cd.sh)

if(NOT (KVX_GUI_TESTS AND KVX_RUN_TESTS))
    return()
endif()

# Helpers that run inside Wine: a window probe, and the check of the resources against the
# presenters and their string tables.
add_executable(kvx_gui_probe ${kvx_gui_dir}/win32/gui_probe.cpp)
target_link_libraries(kvx_gui_probe PRIVATE kvx_warnings comctl32 user32)

add_executable(kvx_resource_check ${kvx_gui_dir}/win32/resource_check.cpp)
target_link_libraries(kvx_resource_check PRIVATE keyport_core keywiper_presenters kvx_common
    kvx_program_support comctl32 user32)

find_program(KVX_XVFB Xvfb)
find_program(KVX_XDOTOOL xdotool)
if(NOT KVX_XVFB OR NOT KVX_XDOTOOL)
    message(STATUS "Xvfb or xdotool not found: the GUI tests are not registered")
    return()
endif()

# Each test runs its own display and its own Wine server in a prefix of the GUI tests alone (the
# unit tests' persistent server has no display); they take turns because they share that prefix
# and the instance markers of the programs in it.
function(kvx_gui_test name)
    add_test(NAME gui_${name}
        COMMAND ${CMAKE_COMMAND} -E env
            KVX_GUI_BUILD=${CMAKE_BINARY_DIR}
            KVX_GUI_ARCH=${KVX_WINE_ARCH}
            KVX_GUI_CD=${CMAKE_BINARY_DIR}/cd
            KVX_GUI_PREFIX=${KVX_CD_PREFIX}
            KVX_GUI_PROBE=$<TARGET_FILE:kvx_gui_probe>
            KVX_GUI_CHECK=$<TARGET_FILE:kvx_resource_check>
            KVX_GUI_KVXSIM=$<TARGET_FILE:kvxsim>
            KVX_GUI_SOURCE=${CMAKE_SOURCE_DIR}
            KVX_GUI_ARTIFACTS=${CMAKE_BINARY_DIR}/gui-artifacts/${name}
            WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix-gui
            bash ${kvx_gui_dir}/${name}.sh)
    set_tests_properties(gui_${name} PROPERTIES TIMEOUT 180 RESOURCE_LOCK kvx_gui
        LABELS gui)
endfunction()

kvx_gui_test(resources)
kvx_gui_test(keyport_login)
kvx_gui_test(keyport_change_password)
kvx_gui_test(keyport_device_removed)
kvx_gui_test(keywiper_reset)
