# Cross-compiles path2ini.exe for 32-bit Windows, the build we ship, with
# Debian's mingw-w64 (package g++-mingw-w64-i686-win32):
#
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
#   cmake --build build-win32 -j2
#
# The tests run under a 32-bit Wine (wine32:i386, .ci/windows.sh).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(P2I_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
