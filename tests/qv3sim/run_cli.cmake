# Runs qv3sim with a description that has a mistake: it must end with status 2 and name the file
# and line. Then runs the default machine with --registry-out and checks the file is a regedit
# file in UTF-16LE with its byte-order mark.
execute_process(COMMAND ${QV3SIM} --machine ${BAD}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 2)
  message(FATAL_ERROR "a description with a mistake ended with ${rc}, not 2\n${err}\n${out}")
endif()
if(NOT err MATCHES "unknown-field.json:4:3: error: colour: unknown field \"colour\"")
  message(FATAL_ERROR "the message does not name file, line and problem:\n${err}")
endif()

set(reg ${WORK}/qv3sim-changes.reg)
file(REMOVE ${reg})
execute_process(COMMAND ${QV3SIM} --quiet --registry-out ${reg}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "--registry-out ended with ${rc}\n${err}")
endif()
file(READ ${reg} head LIMIT 8 HEX)
if(NOT head STREQUAL "fffe570069006e00")
  message(FATAL_ERROR "the registry file does not start with a UTF-16LE \"Win\": ${head}")
endif()
file(SIZE ${reg} size)
if(size LESS 2000)
  message(FATAL_ERROR "the registry file is too small to hold the changes: ${size} bytes")
endif()
