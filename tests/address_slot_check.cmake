# Writes the built-in slot's source for TARVO_ADDRESS (given with -D) and checks that the
# field holds exactly 180 characters, beginning with the address literally; an invalid
# address stops in the slot writer itself.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/AddressSlot.cmake)
tarvo_write_address_slot("${OUT}")
file(STRINGS "${OUT}" line REGEX "g_builtInSlot")
string(REGEX REPLACE "^[^\"]*\"(.*)\".*$" "\\1" field "${line}")
string(REPLACE "\\\"" "\"" field "${field}")
string(REPLACE "\\\\" "\\" field "${field}")
string(LENGTH "${field}" length)
if(NOT length EQUAL 180)
  message(FATAL_ERROR "slot field is ${length} characters long")
endif()
string(LENGTH "${TARVO_ADDRESS}" address_length)
string(SUBSTRING "${field}" 0 ${address_length} head)
if(NOT head STREQUAL TARVO_ADDRESS)
  message(FATAL_ERROR "slot field does not hold the address literally: [${field}]")
endif()
message(STATUS "slot field: [${field}]")
