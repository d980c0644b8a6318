# GoogleTest built from Debian's source package (googletest, in
# /usr/src/googletest) with the project's compiler: a cross build cannot use
# the host's libgtest. Gives the same target names as find_package(GTest).

set(P2I_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${P2I_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${P2I_GOOGLETEST_SOURCE} "
                      "(install Debian's googletest package or set P2I_GOOGLETEST_SOURCE)")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# The win32-threads mingw-w64 has no pthreads; GoogleTest then uses the
# Windows primitives of its own port layer.
if(WIN32)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
endif()
add_subdirectory(${P2I_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# GCC 12's win32 thread model has no std::mutex, which GoogleTest 1.12's
# Notification needs; it takes the one in gtest-notification.h instead.
if(WIN32 AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_definitions(gtest PUBLIC GTEST_HAS_NOTIFICATION_=1)
  target_compile_options(gtest PUBLIC "SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/gtest-notification.h")
endif()

foreach(target gtest gtest_main gmock gmock_main)
  if(TARGET ${target} AND NOT TARGET GTest::${target})
    add_library(GTest::${target} ALIAS ${target})
  endif()
endforeach()
