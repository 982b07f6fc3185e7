# Cross build for 64-bit Windows with the posix-thread mingw-w64 compilers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KVX_MINGW_TRIPLE x86_64-w64-mingw32)
# The Wine architecture that runs this build's programs (scripts/wine-env.sh).
set(KVX_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
