# The part of the MinGW-w64 toolchain that both Windows targets share; the
# including file sets TQ_MINGW_TRIPLET, CMAKE_SYSTEM_PROCESSOR and
# TQ_WINE_LOADER first. Posix thread model, linked fully static so that the
# executables import only system DLLs; programs run on Linux under Wine.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TQ_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TQ_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TQ_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${TQ_MINGW_TRIPLET}-ar)
set(CMAKE_RANLIB ${TQ_MINGW_TRIPLET}-ranlib)

# Static libjpeg-turbo, libpng, libwebp and zlib built by scripts/win-deps.
# The prefix lives outside the checkout; TQ_WIN_DEPS overrides it.
if(DEFINED ENV{TQ_WIN_DEPS})
  set(TQ_WIN_DEPS_PREFIX "$ENV{TQ_WIN_DEPS}")
else()
  set(TQ_WIN_DEPS_PREFIX "$ENV{HOME}/.cache/tq-win-deps/${TQ_MINGW_TRIPLET}")
endif()
# Try-compile projects read the toolchain file again without our cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TQ_WIN_DEPS_PREFIX)

# Only the dependency prefix is searched: the MinGW system folder also holds
# libz.dll.a, which nothing may link by accident.
set(CMAKE_FIND_ROOT_PATH "${TQ_WIN_DEPS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_PREFIX_PATH "${TQ_WIN_DEPS_PREFIX}")

# pkg-config (WebP has no CMake package) must see the prefix and nothing else.
set(ENV{PKG_CONFIG_LIBDIR} "${TQ_WIN_DEPS_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the Windows programs through Wine; WINEPREFIX comes from the caller.
set(CMAKE_CROSSCOMPILING_EMULATOR ${TQ_WINE_LOADER})
