# The Windows programs and their English resource libraries, built from one resource script each.
#
#   kvx_win32_program(TARGET t OUTPUT_NAME LCK SOURCES main.cpp RESOURCES app.rc
#                     STRINGS list.inc LIBRARIES core...)
#   kvx_resource_library(TARGET t OUTPUT_NAME KEG RESOURCES app.rc STRINGS list.inc)
#
# The string table of a resource script is generated from the program's string list at build
# time (GenerateStringTableRc.cmake); the script includes it as "<list name>.rc".
include_guard(GLOBAL)

# The library's host code and helpers for programs, as an archive: a program takes only the
# objects it uses, so the exports (which KVX.DLL provides at run time) stay out of it.
if(NOT TARGET kvx_program_support)
    add_library(kvx_program_support STATIC $<TARGET_OBJECTS:kvx_base> $<TARGET_OBJECTS:kvx_sim>
        $<TARGET_OBJECTS:kvx_core>)
    target_link_libraries(kvx_program_support PUBLIC kvx_warnings)
    target_link_libraries(kvx_program_support INTERFACE setupapi advapi32 user32)
endif()

# One generator target per string list, shared by the program and its resource library.
function(kvx_string_table_target inc outVar targetVar)
    get_filename_component(name ${inc} NAME_WE)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc)
    set(target ${name}_rc)
    set(script ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/GenerateStringTableRc.cmake)
    if(NOT TARGET ${target})
        add_custom_command(OUTPUT ${out}
            COMMAND ${CMAKE_COMMAND} -DKVX_STRINGS_INC=${inc} -DKVX_STRINGS_RC=${out}
                    -P ${script}
            DEPENDS ${inc} ${script}
            COMMENT "Generating the string table ${name}.rc"
            VERBATIM)
        add_custom_target(${target} DEPENDS ${out})
    endif()
    set(${outVar} ${out} PARENT_SCOPE)
    set(${targetVar} ${target} PARENT_SCOPE)
endfunction()

function(kvx_attach_resources target resources inc)
    kvx_string_table_target(${inc} generated generator)
    add_dependencies(${target} ${generator})
    set_source_files_properties(${resources} PROPERTIES OBJECT_DEPENDS ${generated})
    # windres finds the generated table and the icons through its include path.
    target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}
        ${CMAKE_CURRENT_SOURCE_DIR})
endfunction()

function(kvx_win32_program)
    cmake_parse_arguments(P "" "TARGET;OUTPUT_NAME;RESOURCES;STRINGS" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${P_TARGET} WIN32 ${P_SOURCES} ${P_RESOURCES})
    set_target_properties(${P_TARGET} PROPERTIES OUTPUT_NAME ${P_OUTPUT_NAME})
    target_compile_definitions(${P_TARGET} PRIVATE KVX_FILE_TYPE=VFT_APP)
    target_link_libraries(${P_TARGET} PRIVATE ${P_LIBRARIES} kvx_common kvx_program_support
        comctl32 shell32 user32 gdi32)
    kvx_attach_resources(${P_TARGET} ${P_RESOURCES} ${P_STRINGS})
endfunction()

function(kvx_resource_library)
    cmake_parse_arguments(P "" "TARGET;OUTPUT_NAME;RESOURCES;STRINGS" "" ${ARGN})
    add_library(${P_TARGET} SHARED ${P_RESOURCES})
    # Resources only: no code, no entry point, no imports.
    set_target_properties(${P_TARGET} PROPERTIES PREFIX "" OUTPUT_NAME ${P_OUTPUT_NAME}
        SUFFIX ".DLL" LINKER_LANGUAGE C)
    target_compile_definitions(${P_TARGET} PRIVATE KVX_FILE_TYPE=VFT_DLL)
    target_link_options(${P_TARGET} PRIVATE -nostdlib -Wl,-e,0)
    kvx_attach_resources(${P_TARGET} ${P_RESOURCES} ${P_STRINGS})
endfunction()
