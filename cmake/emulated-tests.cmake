# Test registration for cross builds: each GoogleTest executable is one CTest
# test that runs through CMAKE_CROSSCOMPILING_EMULATOR (Wine) under
# run-emulated-gtest.cmake.

# Wine takes the ANSI and OEM code pages from the POSIX locale, so the
# POSIX side's P2I_ANSI_CODEPAGE becomes a locale with that ANSI code page.
function(p2i_emulated_environment out environment)
  set(result "")
  foreach(item IN LISTS environment)
    if(item MATCHES "^P2I_ANSI_CODEPAGE=(.*)$")
      set(code_page ${CMAKE_MATCH_1})
      if(code_page STREQUAL "932")
        list(APPEND result "LC_ALL=ja_JP.UTF-8")
      elseif(code_page STREQUAL "1251")
        list(APPEND result "LC_ALL=ru_RU.UTF-8")
      else()
        message(FATAL_ERROR "no locale known for the ANSI code page ${code_page} under Wine")
      endif()
    else()
      list(APPEND result "${item}")
    endif()
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

function(p2i_add_emulated_gtest name environment)
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    message(WARNING "no emulator for ${name}: install Wine to run the cross-compiled tests")
  endif()
  add_test(NAME ${name}
           COMMAND ${CMAKE_COMMAND} "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}" -DEXE=$<TARGET_FILE:${name}>
                   -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/run-emulated-gtest.cmake)
  p2i_emulated_environment(wine_environment "${environment}")
  if(wine_environment)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${wine_environment}")
  endif()
endfunction()
