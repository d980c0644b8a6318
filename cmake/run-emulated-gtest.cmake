# Runs one cross-compiled GoogleTest executable through the emulator (Wine)
# and decides the result itself, so that a silent crash cannot pass:
#   cmake -DEMULATOR=wine -DEXE=x.exe [-DARGS=...] -P run-emulated-gtest.cmake
# Output is shown with carriage returns removed. The test passes only when
# the process exits with 0, GoogleTest printed its closing summary line and
# reported every test as passed.

if(NOT EXE)
  message(FATAL_ERROR "EXE not given")
endif()
execute_process(COMMAND ${EMULATOR} ${EXE} ${ARGS}
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REPLACE "\r" "" out "${out}")
string(REPLACE "\r" "" err "${err}")
message("${out}")
if(err)
  message("--- standard error:\n${err}")
endif()

if(NOT code STREQUAL "0")
  message(FATAL_ERROR "${EXE} ended with ${code}")
endif()
# The end marker: "[==========] N tests from M test suites ran." followed by
# "[  PASSED  ] N tests." comes only from a run that reached its end.
if(NOT out MATCHES "\n\\[==========\\] [0-9]+ tests? from [0-9]+ test suites? ran[^\n]*\n\\[  PASSED  \\] [0-9]+ tests?\\.")
  message(FATAL_ERROR "${EXE} did not reach GoogleTest's closing summary")
endif()
if(out MATCHES "\\[  FAILED  \\]")
  message(FATAL_ERROR "${EXE} reported failed tests")
endif()
