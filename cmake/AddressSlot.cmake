# Checks TARVO_ADDRESS and writes the built-in slot's source: the address padded with
# spaces to exactly 180 characters, so the field has the same size in every build.
set(TARVO_ADDRESS "https://tarvo.invalid/" CACHE STRING
    "Address built into Tarvo.exe; one containing .invalid makes a prompting launcher")

function(tarvo_write_address_slot out_file)
  set(address "${TARVO_ADDRESS}")
  string(LENGTH "${address}" length)
  if(length GREATER 180)
    message(FATAL_ERROR "TARVO_ADDRESS is ${length} bytes long; the built-in slot holds at most 180.")
  endif()
  if(NOT address MATCHES "^https://")
    message(FATAL_ERROR "TARVO_ADDRESS must begin with \"https://\": '${address}'")
  endif()
  # Printable ASCII without the blank; anything else must be percent-encoded. A browser
  # drops a double quote from its command line and would open another page.
  if(NOT address MATCHES "^[!-~]+$" OR address MATCHES "\"")
    message(FATAL_ERROR "TARVO_ADDRESS holds a blank, a double quote, a control character or a non-ASCII byte; percent-encode it (%20, %22).")
  endif()
  string(REPEAT " " 180 padding)
  string(SUBSTRING "${address}${padding}" 0 180 padded)
  string(REPLACE "\\" "\\\\" padded "${padded}")
  # Written literally: "@" and "$" are ordinary URL characters, not variables. Only a
  # changed text touches the file, so an unchanged address rebuilds nothing.
  file(WRITE "${out_file}.new"
"// Generated from TARVO_ADDRESS at configure time; do not edit.
#include \"startup/startup.h\"

char g_builtInSlot[kSlotLength + 1] = \"${padded}\";
")
  file(COPY_FILE "${out_file}.new" "${out_file}" ONLY_IF_DIFFERENT)
  file(REMOVE "${out_file}.new")
endfunction()
