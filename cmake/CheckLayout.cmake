# Run after linking Tarvo.exe (cmake -DEXE=... -P): tarvo-stamp rebuilds .rsrc in place and
# moves only .reloc after it, so the build stops at once when the linker's layout changes.
include(${CMAKE_CURRENT_LIST_DIR}/Branding.cmake)
file(READ "${EXE}" hex HEX LIMIT 4096)
tarvo_hex_number("${hex}" 60 4 le pe)
tarvo_hex_number("${hex}" "${pe} + 6" 2 le count)
tarvo_hex_number("${hex}" "${pe} + 20" 2 le optional_size)
# The last two section names, as hex without their NUL padding.
set(tail "")
foreach(i RANGE 2 1 -1)
  math(EXPR at "(${pe} + 24 + ${optional_size} + 40 * (${count} - ${i})) * 2")
  string(SUBSTRING "${hex}" ${at} 16 name)
  string(REGEX REPLACE "(00)+$" "" name "${name}")
  list(APPEND tail "${name}")
endforeach()
string(HEX ".rsrc" rsrc)
string(HEX ".reloc" reloc)
if(NOT tail STREQUAL "${rsrc};${reloc}")
  message(FATAL_ERROR "${EXE}'s sections do not end with .rsrc and .reloc: tarvo-stamp could no "
                      "longer rebuild the resources")
endif()
