# path2ini on a missing table: exit code 3, the message and the termination
# line on standard error, and no INI file.
set(dir ${CMAKE_CURRENT_BINARY_DIR}/missing_table_run)
file(REMOVE_RECURSE ${dir})
file(MAKE_DIRECTORY ${dir})
execute_process(COMMAND ${EMULATOR} ${EXE} NOPE.DB WORKING_DIRECTORY ${dir}
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
# Windows writes text streams with CR LF.
string(REPLACE "\r" "" out "${out}")
string(REPLACE "\r" "" err "${err}")
if(NOT code EQUAL 3)
  message(FATAL_ERROR "exit code ${code}, expected 3")
endif()
if(NOT err MATCHES "NOPE.DB\nAbnormal program termination\n$")
  message(FATAL_ERROR "unexpected standard error: ${err}")
endif()
if(NOT out MATCHES "^NOPE.DB\n")
  message(FATAL_ERROR "unexpected standard output: ${out}")
endif()
if(EXISTS ${dir}/NOPE.INI)
  message(FATAL_ERROR "an INI file was written")
endif()
file(REMOVE_RECURSE ${dir})
