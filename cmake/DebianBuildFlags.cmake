# The flags Debian gives every packaged binary, as this release's dpkg-buildflags states them:
# stack protector, _FORTIFY_SOURCE, format checks, PIE, full RELRO and BIND_NOW, with the
# source folder mapped to "." so that no build path lands in the binary.
set(ENV{DEB_BUILD_MAINT_OPTIONS} "hardening=+all")
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(COMMAND dpkg-buildflags --get ${kind} WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE debian_${kind} OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endforeach()
string(APPEND CMAKE_CXX_FLAGS " ${debian_CPPFLAGS} ${debian_CXXFLAGS}")
string(APPEND CMAKE_EXE_LINKER_FLAGS " ${debian_LDFLAGS}")
