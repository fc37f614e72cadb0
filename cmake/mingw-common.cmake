# Shared part of the mingw-w64 cross toolchains. The including file sets
# TOLDEX_MINGW_TRIPLET (i686-w64-mingw32 or x86_64-w64-mingw32) and
# TOLDEX_WINE_LOADER (the Wine loader that runs that kind of program).
#
# The -posix flavour of the compilers is used: Debian's default flavour uses
# win32 threads, which leaves std::mutex and std::thread out of this GCC.
set(CMAKE_C_COMPILER ${TOLDEX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLDEX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLDEX_MINGW_TRIPLET}-windres)
set(CMAKE_DLLTOOL ${TOLDEX_MINGW_TRIPLET}-dlltool)
set(CMAKE_OBJDUMP ${TOLDEX_MINGW_TRIPLET}-objdump)
set(CMAKE_AR ${TOLDEX_MINGW_TRIPLET}-ar)
set(CMAKE_RANLIB ${TOLDEX_MINGW_TRIPLET}-ranlib)

set(CMAKE_FIND_ROOT_PATH /usr/${TOLDEX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run under Wine, in a Wine prefix of this build folder,
# through wine-run (which creates the prefix once and keeps Wine quiet).
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/wine-run --prefix ${CMAKE_BINARY_DIR}/wine-prefix
    --loader ${TOLDEX_WINE_LOADER} --)

# The same pieces, for tests that start Windows programs themselves.
set(TOLDEX_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/wine-run)
