# Removes from the CD folder every file that is not staged any more (after a change of prefix or
# of the programs built), so that the folder holds exactly what ships.
#   cmake -DKVX_CD_DIR=<folder> -DKVX_CD_KEEP=<name;name...> -P PruneCdFolder.cmake
cmake_minimum_required(VERSION 3.25)
file(GLOB present RELATIVE ${KVX_CD_DIR} ${KVX_CD_DIR}/*)
foreach(name IN LISTS present)
    if(NOT name IN_LIST KVX_CD_KEEP)
        file(REMOVE_RECURSE ${KVX_CD_DIR}/${name})
    endif()
endforeach()
