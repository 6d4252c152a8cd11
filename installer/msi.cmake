# Packs one launcher, as it is, into the Windows Installer package of one desk:
#   cmake -DLAUNCHER=Tarvo.exe [-DNAME=Tarvo] [-DVERSION=1.0.0] [-DOUT=Tarvo.msi] [-DSTAMP=tarvo-stamp]
#         -P installer/msi.cmake
# LAUNCHER is the release or any stamped, branded or signed launcher. NAME is the desk: its Start
# menu shortcut, its entry in Apps & features, its folder Program Files\Tarvo\NAME and the codes
# that tell its install from another desk's. VERSION defaults to the project's. STAMP is a
# tarvo-stamp built for this machine (default: the one on PATH), whose --show says whether the
# launcher has a built-in address. Paths are taken from the folder cmake runs in. Two runs with
# the same inputs give the same bytes.
cmake_minimum_required(VERSION 3.25)

# Every code is a name-based UUID in this namespace.
set(namespace 3B8E2C53-7E0C-4F0F-9A57-6F2B0D1C9E41)
set(fixed_time "2026-01-01 00:00:00")  # every time in the package: wixl takes no SOURCE_DATE_EPOCH
set(usage "cmake -DLAUNCHER=Tarvo.exe [-DNAME=Tarvo] [-DVERSION=x.y.z] [-DOUT=Tarvo.msi] [-DSTAMP=tarvo-stamp] -P installer/msi.cmake")

function(refuse message)
  message(FATAL_ERROR "installer/msi.cmake: ${message}")
endfunction()

foreach(program wixl msibuild faketime cp touch mktemp)
  find_program(${program}_program ${program})
  if(NOT ${program}_program)
    refuse("${program} is missing: install Debian's wixl, msitools, faketime and coreutils")
  endif()
endforeach()
if(NOT DEFINED LAUNCHER)
  refuse("usage: ${usage}")
endif()
get_filename_component(launcher "${LAUNCHER}" ABSOLUTE)
if(NOT EXISTS "${launcher}" OR IS_DIRECTORY "${launcher}")
  refuse("${LAUNCHER}: no such file")
endif()
if(NOT DEFINED STAMP)
  find_program(STAMP tarvo-stamp)
  if(NOT STAMP)
    refuse("no tarvo-stamp on PATH: give -DSTAMP=build/windows/native/tools/stamp/tarvo-stamp, which "
           "cmake --build --preset windows --target msi builds, or install the tarvo-stamp package")
  endif()
endif()
if(NOT DEFINED NAME)
  set(NAME Tarvo)
endif()
# NAME names a folder, a shortcut and a registry key that Windows Installer formats (where [ and ]
# are its own); wixl 0.101 writes ASCII alone. Windows compares those names without case, so the
# codes that follow the desk do too.
string(LENGTH "${NAME}" name_length)
string(TOLOWER "${NAME}" desk)
if(name_length EQUAL 0 OR name_length GREATER 64 OR NOT NAME MATCHES "^[ -~]+$" OR NAME MATCHES "[][\\/:*?\"<>|&]"
   OR NAME MATCHES "^ | $|\\.$" OR desk MATCHES "^(con|prn|aux|nul|com[0-9]|lpt[0-9])( *\\.|$)")
  refuse("NAME '${NAME}' must have 1 to 64 ASCII characters, none of \\ / : * ? \" < > | & [ ] or a control "
         "character, no blank at either end, no '.' at the end, and not be a device name such as CON or NUL")
endif()
if(NOT DEFINED VERSION)
  file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/../CMakeLists.txt" project REGEX "^project\\(Tarvo VERSION ")
  string(REGEX REPLACE "^project\\(Tarvo VERSION ([0-9.]+).*" "\\1" VERSION "${project}")
endif()
if(NOT VERSION MATCHES "^(0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)$" OR CMAKE_MATCH_1 GREATER 255 OR CMAKE_MATCH_2 GREATER 255
   OR CMAKE_MATCH_3 GREATER 65535)
  refuse("VERSION '${VERSION}' is no Windows Installer version: major.minor.build without leading zeros, at most 255.255.65535")
endif()
if(NOT DEFINED OUT)
  set(OUT Tarvo.msi)
endif()
get_filename_component(out "${OUT}" ABSOLUTE)

# Whether the launcher has a built-in address is tarvo-stamp's to say, by the rule the launcher
# follows; without one the administrator must give DESK_ADDRESS.
execute_process(COMMAND "${STAMP}" --show -- "${launcher}" RESULT_VARIABLE status OUTPUT_VARIABLE shown
  ERROR_VARIABLE reason)
if(NOT status EQUAL 0 OR NOT shown MATCHES "(^|\n)used: (yes|no)")
  refuse("${LAUNCHER}: not a Tarvo launcher that ${STAMP} can read (status ${status}): ${reason}")
endif()
# One that names no host a browser can open (an older stamp's) counts as none.
set(built_in no)
if(shown MATCHES "(^|\n)used: yes, the launcher opens this address")
  set(built_in yes)
endif()
set(address_note "DESK_ADDRESS required")
if(built_in STREQUAL "yes")
  set(address_note "DESK_ADDRESS optional: the launcher has a built-in address")
endif()

# The desk's own codes follow its name; the package's follow every input, so that a package
# differs in its codes whenever it differs in its bytes, and a rebuild is a new product that
# replaces the old (a major upgrade).
foreach(code upgrade launcher_component shortcut_component)
  string(UUID ${code} NAMESPACE ${namespace} NAME "${code} ${desk}" TYPE SHA1 UPPER)
endforeach()
# The tools that write the bytes are inputs too; msibuild comes with wixl, from msitools.
execute_process(COMMAND wixl --version OUTPUT_VARIABLE wixl_version OUTPUT_STRIP_TRAILING_WHITESPACE)
set(inputs "${VERSION} ${NAME} ${built_in} ${wixl_version}")
foreach(file "${launcher}" "${CMAKE_CURRENT_LIST_DIR}/Tarvo.wxs" "${CMAKE_CURRENT_LIST_FILE}")
  file(SHA256 "${file}" digest)
  string(APPEND inputs " ${digest}")
endforeach()
string(UUID product_code NAMESPACE ${namespace} NAME "product ${inputs}" TYPE SHA1 UPPER)
string(UUID package_code NAMESPACE ${namespace} NAME "package ${inputs}" TYPE SHA1 UPPER)

execute_process(COMMAND mktemp -d "${out}.XXXXXX" OUTPUT_VARIABLE work OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE status ERROR_VARIABLE reason)
if(NOT status EQUAL 0)
  refuse("cannot make a work folder beside ${OUT}: ${reason}")
endif()
# Runs a command in the work folder at the fixed time; a ';' in an argument is written "\;".
function(run)
  execute_process(COMMAND faketime -f "@${fixed_time}" ${ARGN} WORKING_DIRECTORY "${work}" RESULT_VARIABLE status
    OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    file(REMOVE_RECURSE "${work}")
    refuse("${ARGV0} failed: ${output}")
  endif()
endfunction()
string(REPLACE ";" "\\;" name "${NAME}")
run(cp -- "${launcher}" Tarvo.exe)
run(touch -d "${fixed_time}Z" Tarvo.exe)  # the cabinet keeps its time
run(wixl -a x64 -D "Name=${name}" -D Version=${VERSION} -D ProductCode=${product_code} -D UpgradeCode=${upgrade}
  -D LauncherComponent=${launcher_component} -D ShortcutComponent=${shortcut_component} -D Launcher=Tarvo.exe
  -D BuiltInAddress=${built_in} -o package.msi "${CMAKE_CURRENT_LIST_DIR}/Tarvo.wxs")
# What wixl 0.101 cannot write: the derived package code, secure properties without DESK_ADDRESS
# (a secure one would let a user who is no administrator repair a desk installed for every
# user with an address of their own: only administrators, and the system's deployment
# services, change it), HKMU (HKLM per machine, HKCU per user), which it writes as 4,
# the folder that RemoveFolder names (it takes its component's), and an upgrade row that
# includes its maximum version: 769 = 512 (the maximum included) + 256 (the minimum 0.0.0
# included: every version, as a missing minimum would be, which Wine does not take) + 1
# (migrate features). Attributes is a key of the Upgrade table, so the row is written anew.
# A second row (257, every version) replaces a package from before desks had codes of their
# own, when every desk shared the namespace as its upgrade code: a machine held one such desk,
# and its folder, shortcut and registry value would otherwise stay beside the new desk's.
run(msibuild package.msi -s "${name}" Tarvo "x64\;1033" "{${package_code}}")
run(msibuild package.msi
  -q "UPDATE Property SET Value = 'WIX_DOWNGRADE_DETECTED\;WIX_UPGRADE_DETECTED' WHERE Property = 'SecureCustomProperties'"
  -q "UPDATE Registry SET Root = -1 WHERE Root = 4"
  -q "UPDATE RemoveFile SET DirProperty = 'TarvoFolder' WHERE FileKey = 'TarvoFolderWhenEmpty'"
  -q "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'"
  -q "INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, Attributes, ActionProperty) VALUES ('{${upgrade}}', '0.0.0', '${VERSION}', 769, 'WIX_UPGRADE_DETECTED')"
  -q "INSERT INTO Upgrade (UpgradeCode, VersionMin, Attributes, ActionProperty) VALUES ('{${namespace}}', '0.0.0', 257, 'WIX_UPGRADE_DETECTED')")
file(RENAME "${work}/package.msi" "${out}" RESULT renamed)
file(REMOVE_RECURSE "${work}")
if(NOT renamed EQUAL 0)
  refuse("${OUT}: ${renamed}")
endif()
message(STATUS "Packed ${LAUNCHER} into ${OUT}: desk \"${NAME}\" ${VERSION}, product code {${product_code}}, "
  "${address_note}")
