# Toolchain for the product: 32-bit Windows through MinGW-w64 (i686).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TQ_MINGW_TRIPLET i686-w64-mingw32)
# /usr/bin/wine starts the 32-bit loader when wine32 is installed.
set(TQ_WINE_LOADER wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
