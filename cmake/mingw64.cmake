# Toolchain for the same code as 64-bit Windows through MinGW-w64 (x86_64):
# what the Windows tests run on machines that cannot execute 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TQ_MINGW_TRIPLET x86_64-w64-mingw32)
# /usr/bin/wine would pick the 32-bit loader whenever wine32 is installed,
# even where it cannot start.
set(TQ_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
