# Cross build for 32-bit Windows (the shipped target) with the posix-thread mingw-w64 compilers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KVX_MINGW_TRIPLE i686-w64-mingw32)
# The Wine architecture that runs this build's programs (scripts/wine-env.sh).
set(KVX_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
