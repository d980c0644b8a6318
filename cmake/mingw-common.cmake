# What the mingw-w64 toolchain files (mingw-i686.cmake, mingw-x86_64.cmake)
# share; each sets CMAKE_SYSTEM_PROCESSOR and P2I_MINGW_PREFIX first.
#
# The executables link statically, so path2ini.exe is one file that needs no
# runtime DLL besides the system's own. Tests run under Wine (.ci/windows.sh).

set(CMAKE_SYSTEM_NAME Windows)
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
