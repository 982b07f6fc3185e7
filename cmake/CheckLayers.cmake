# Fails when a source includes a project header against the direction of the layers:
#   lib/crypto   includes nothing of the project but crypto/
#   lib/host     crypto/ and host/
#   sim          crypto/, host/ and sim/ (the emulator never uses the library's services)
#   lib (all)    never sim/ (the core cannot even compile such an include; this names the file)
# Run as: cmake -DKVX_SOURCE_DIR=<dir> -P CheckLayers.cmake
set(rules
    "lib/crypto|crypto/"
    "lib/host|crypto/,host/"
    "sim|crypto/,host/,sim/"
    "lib|crypto/,host/,frame/,transport/,discovery/,security/,media/")
set(failures "")
foreach(rule IN LISTS rules)
    string(REPLACE "|" ";" parts "${rule}")
    list(GET parts 0 folder)
    list(GET parts 1 allowedText)
    string(REPLACE "," ";" allowed "${allowedText}")
    file(GLOB_RECURSE files ${KVX_SOURCE_DIR}/${folder}/*.h ${KVX_SOURCE_DIR}/${folder}/*.cpp
        ${KVX_SOURCE_DIR}/${folder}/*.c)
    foreach(f IN LISTS files)
        file(STRINGS ${f} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
            set(ok FALSE)
            foreach(prefix IN LISTS allowed)
                string(FIND "${header}" "${prefix}" at)
                if(at EQUAL 0)
                    set(ok TRUE)
                endif()
            endforeach()
            if(NOT ok)
                file(RELATIVE_PATH rel ${KVX_SOURCE_DIR} ${f})
                list(APPEND failures "${rel}: \"${header}\" is not for ${folder}/")
            endif()
        endforeach()
    endforeach()
endforeach()
if(failures)
    list(JOIN failures "\n  " text)
    message(FATAL_ERROR "Includes against the layers:\n  ${text}")
endif()
