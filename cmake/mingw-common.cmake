# Cross-compiles path2ini.exe for 32-bit Windows with Debian's mingw-w64
# (package g++-mingw-w64-i686-win32):
#
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
#   cmake --build build-win32 -j2
#
# The executables link statically, so path2ini.exe is one file that needs no
# runtime DLL besides the system's own. Tests run under Wine (.ci/windows.sh).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(P2I_MINGW_PREFIX i686-w64-mingw32)
# Debian installs the win32-threads compiler under a -win32 suffix; prefer it
# so the build does not depend on which alternative is selected.
find_program(CMAKE_C_COMPILER NAMES ${P2I_MINGW_PREFIX}-gcc-win32 ${P2I_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${P2I_MINGW_PREFIX}-g++-win32 ${P2I_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${P2I_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${P2I_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: no libgcc, libstdc++ or winpthread DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# The static runtime libraries bring their debug sections along; a release
# executable does without them.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

# CTest runs the cross-compiled tests through Wine when it is installed.
find_program(P2I_WINE NAMES wine)
if(P2I_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${P2I_WINE})
endif()
