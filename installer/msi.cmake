# Packs one launcher, as it is, into a Windows Installer package for managed installs:
#   cmake -DLAUNCHER=Tarvo.exe [-DNAME=Tarvo] [-DVERSION=1.0.0] [-DOUT=Tarvo.msi] -P installer/msi.cmake
# LAUNCHER is the release or any stamped, branded or signed launcher; NAME names the Start
# menu shortcut and the entry in Apps & features; VERSION defaults to the project's. Paths are
# taken from the folder cmake runs in. Two runs with the same inputs give the same bytes.
cmake_minimum_required(VERSION 3.25)

# The upgrade code never changes, so that every newer package replaces an older one.
set(upgrade_code 3B8E2C53-7E0C-4F0F-9A57-6F2B0D1C9E41)
set(fixed_time "2026-01-01 00:00:00")  # every time in the package: wixl takes no SOURCE_DATE_EPOCH

function(refuse message)
  message(FATAL_ERROR "installer/msi.cmake: ${message}")
endfunction()

foreach(program wixl msibuild faketime touch)
  find_program(${program}_program ${program})
  if(NOT ${program}_program)
    refuse("${program} is missing: install Debian's wixl, msitools and faketime")
  endif()
endforeach()
if(NOT DEFINED LAUNCHER)
  refuse("usage: cmake -DLAUNCHER=Tarvo.exe [-DNAME=Tarvo] [-DVERSION=x.y.z] [-DOUT=Tarvo.msi] -P installer/msi.cmake")
endif()
get_filename_component(launcher "${LAUNCHER}" ABSOLUTE)
if(NOT EXISTS "${launcher}" OR IS_DIRECTORY "${launcher}")
  refuse("${LAUNCHER}: no such file")
endif()
if(NOT DEFINED NAME)
  set(NAME Tarvo)
endif()
# The shortcut's file name, and text inside the package's XML.
string(LENGTH "${NAME}" name_length)
string(ASCII 1 first_control)
string(ASCII 31 last_control)
if(name_length EQUAL 0 OR name_length GREATER 64 OR NAME MATCHES "[\\/:*?\"<>|&${first_control}-${last_control}]"
   OR NAME MATCHES "^ | $|\\.$")
  refuse("NAME '${NAME}' must have 1 to 64 characters, none of \\ / : * ? \" < > | & or a control character, no blank at either end and no '.' at the end")
endif()
if(NOT DEFINED VERSION)
  file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/../CMakeLists.txt" project REGEX "^project\\(Tarvo VERSION ")
  string(REGEX REPLACE "^project\\(Tarvo VERSION ([0-9.]+).*" "\\1" VERSION "${project}")
endif()
if(NOT VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$" OR CMAKE_MATCH_1 GREATER 255 OR CMAKE_MATCH_2 GREATER 255
   OR CMAKE_MATCH_3 GREATER 65535)
  refuse("VERSION '${VERSION}' is no Windows Installer version: major.minor.build, at most 255.255.65535")
endif()
if(NOT DEFINED OUT)
  set(OUT Tarvo.msi)
endif()
get_filename_component(out "${OUT}" ABSOLUTE)

# The launcher's built-in address: its one 180-character field, a scheme and spaces. Without
# a usable one (a placeholder holds ".invalid") the administrator must give DESK_ADDRESS.
file(STRINGS "${launcher}" slots LENGTH_MINIMUM 180 LENGTH_MAXIMUM 180 REGEX "^https?://[!-~]* *$")
list(LENGTH slots slot_count)
if(NOT slot_count EQUAL 1)
  refuse("${LAUNCHER}: not a Tarvo launcher (no built-in address slot)")
endif()
if(slots MATCHES "\\.invalid")
  set(built_in no)
  set(address_note "DESK_ADDRESS required")
else()
  set(built_in yes)
  set(address_note "DESK_ADDRESS optional: the launcher has a built-in address")
endif()

# Derived from everything that goes in, so a package names its contents and repeats.
file(SHA256 "${launcher}" launcher_digest)
string(UUID product_code NAMESPACE ${upgrade_code} NAME "product ${VERSION} ${NAME} ${launcher_digest}" TYPE SHA1 UPPER)
string(UUID package_code NAMESPACE ${upgrade_code} NAME "package ${VERSION} ${NAME} ${launcher_digest}" TYPE SHA1 UPPER)

set(work "${out}.work")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")
# Runs a command in the work folder at the fixed time; a ';' in an argument is written "\;".
function(run)
  execute_process(COMMAND faketime -f "@${fixed_time}" ${ARGN} WORKING_DIRECTORY "${work}" RESULT_VARIABLE status
    OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    file(REMOVE_RECURSE "${work}")
    refuse("${ARGV0} failed: ${output}")
  endif()
endfunction()
file(COPY_FILE "${launcher}" "${work}/Tarvo.exe")
execute_process(COMMAND touch -d "${fixed_time}Z" "${work}/Tarvo.exe" COMMAND_ERROR_IS_FATAL ANY)  # the cabinet keeps its time
run(wixl -a x64 -D "Name=${NAME}" -D Version=${VERSION} -D ProductCode=${product_code} -D Launcher=Tarvo.exe
  -D BuiltInAddress=${built_in} -o package.msi "${CMAKE_CURRENT_LIST_DIR}/Tarvo.wxs")
# What wixl 0.101 cannot write: the derived package code, DESK_ADDRESS among the properties
# passed to an elevated install, and HKMU (HKLM per machine, HKCU per user), which it writes as 4.
run(msibuild package.msi -s "${NAME}" Tarvo "x64\;1033" "{${package_code}}")
run(msibuild package.msi -q "UPDATE Property SET Value = 'DESK_ADDRESS\;WIX_DOWNGRADE_DETECTED\;WIX_UPGRADE_DETECTED' WHERE Property = 'SecureCustomProperties'")
run(msibuild package.msi -q "UPDATE Registry SET Root = -1 WHERE Root = 4")
file(RENAME "${work}/package.msi" "${out}")
file(REMOVE_RECURSE "${work}")
message(STATUS "Packed ${LAUNCHER} into ${OUT}: \"${NAME}\" ${VERSION}, product code {${product_code}}, ${address_note}")
