# Checks TARVO_ADDRESS and writes the built-in slot's source: the address padded with
# spaces to exactly 180 characters, so the field has the same size in every build.
set(TARVO_ADDRESS "https://tarvo.invalid/" CACHE STRING
    "Address built into Tarvo.exe; one containing .invalid makes a prompting launcher")

# TARVO_ADDRESS is judged by tarvo-stamp's own rule, compiled for the machine that builds: one
# rule for the build, the tool and the launcher, never a second copy here.
function(tarvo_check_address address work_folder)
  find_program(TARVO_BUILD_CXX NAMES c++ g++ clang++ REQUIRED DOC "The build machine's own C++ compiler")
  set(sources cmake/check_address.cpp tools/stamp/slot_address.cpp src/address/host.cpp)
  set(headers tools/stamp/slot_address.h src/address/address.h)
  list(TRANSFORM sources PREPEND "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../")
  list(TRANSFORM headers PREPEND "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../")
  if(NOT CMAKE_SCRIPT_MODE_FILE)  # a changed rule judges the address again
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${sources} ${headers})
  endif()
  set(checker "${work_folder}/check_address")
  set(stale NO)
  foreach(source IN LISTS sources headers)
    if(NOT EXISTS "${checker}" OR "${source}" IS_NEWER_THAN "${checker}")
      set(stale YES)
    endif()
  endforeach()
  if(stale)
    # A name of its own, then a rename: checks running side by side never run a half-written one.
    string(RANDOM LENGTH 8 unique)
    file(MAKE_DIRECTORY "${work_folder}")
    execute_process(COMMAND "${TARVO_BUILD_CXX}" -std=c++17 -O1 -o "${checker}.${unique}" ${sources}
      RESULT_VARIABLE status ERROR_VARIABLE errors)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "The address check could not be compiled with ${TARVO_BUILD_CXX}:\n${errors}")
    endif()
    file(RENAME "${checker}.${unique}" "${checker}")
  endif()
  execute_process(COMMAND "${checker}" "${address}" RESULT_VARIABLE status OUTPUT_VARIABLE reason
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "TARVO_ADDRESS '${address}' is refused: ${reason}.")
  endif()
endfunction()

function(tarvo_write_address_slot out_file)
  set(address "${TARVO_ADDRESS}")
  get_filename_component(folder "${out_file}" DIRECTORY)
  tarvo_check_address("${address}" "${folder}")
  string(REPEAT " " 180 padding)
  string(SUBSTRING "${address}${padding}" 0 180 padded)
  string(REPLACE "\\" "\\\\" padded "${padded}")
  string(REPLACE "?" "\\?" padded "${padded}")  # never the start of a trigraph
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
