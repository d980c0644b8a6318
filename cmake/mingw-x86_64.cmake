# Cross-compiles path2ini.exe for 64-bit Windows with Debian's mingw-w64
# (package g++-mingw-w64-x86-64-win32). The same sources as the 32-bit build;
# CI tests it under a 64-bit Wine (package wine64, no i386 packages) when
# the 32-bit Wine cannot be installed:
#
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(P2I_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
