# Cross build for 64-bit Windows (PE32+, x86-64) with mingw-w64, from the same
# sources as the 32-bit product: its programs run under wine64 on machines
# that cannot run 32-bit code, so the Windows side is still exercised there.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TOLDEX_MINGW_TRIPLET x86_64-w64-mingw32)
set(TOLDEX_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
