# Cross build for 32-bit Windows (PE32, i386) with mingw-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TOLDEX_MINGW_TRIPLET i686-w64-mingw32)
# Debian's wine32 loader; it needs a kernel that runs 32-bit programs.
set(TOLDEX_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
