# The service's Debian package, tarvo-stamp_VERSION_amd64.deb: tarvo-stamp in bin, and in
# share/tarvo the release Tarvo.exe it stamps (the placeholder build, cross-built here by the
# project's own toolchain file, with nothing beside it) and the tag certificate to sign the
# release with; its manual page, changelog and copyright. dpkg-shlibdeps names the libraries.
# Two builds of one commit give the same bytes.
set(TARVO_MAINTAINER "The Tarvo developers <maintainers@tarvo.invalid>" CACHE STRING
    "The package's Maintainer: name <address> of whoever answers for it")
set(TARVO_HOMEPAGE "" CACHE STRING "The package's Homepage; left out when empty")

include(ExternalProject)
ExternalProject_Add(release
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/release
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target Tarvo
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON)

set(tag_certificate ${CMAKE_BINARY_DIR}/tarvo-tag.crt)
add_custom_command(OUTPUT ${tag_certificate} COMMAND tarvo-stamp --tag-certificate ${tag_certificate} DEPENDS tarvo-stamp)
# gzip -n leaves out the name and time, which would differ from build to build.
set(debian ${PROJECT_SOURCE_DIR}/tools/stamp/debian)
set(manual ${CMAKE_BINARY_DIR}/tarvo-stamp.1.gz)
set(changelog ${CMAKE_BINARY_DIR}/changelog.gz)
function(tarvo_gzip from to)
  add_custom_command(OUTPUT ${to} COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${from} ${to} DEPENDS ${from} VERBATIM)
endfunction()
tarvo_gzip(${PROJECT_SOURCE_DIR}/tools/stamp/tarvo-stamp.1 ${manual})
tarvo_gzip(${debian}/changelog ${changelog})
add_custom_target(package_files ALL DEPENDS ${tag_certificate} ${manual} ${changelog})

# The changelog's newest entry names the version the package gets.
execute_process(COMMAND dpkg-parsechangelog -l ${debian}/changelog -S Version OUTPUT_VARIABLE changelog_version
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
if(NOT changelog_version STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "tools/stamp/debian/changelog's newest entry is ${changelog_version}, the project ${PROJECT_VERSION}")
endif()
# Every time inside the package is the last commit's, or the changelog's outside a checkout.
execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  OUTPUT_VARIABLE TARVO_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE no_commit ERROR_QUIET)
if(no_commit)
  execute_process(COMMAND dpkg-parsechangelog -l ${debian}/changelog -S Timestamp
    OUTPUT_VARIABLE TARVO_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/PackageTime.cmake.in ${CMAKE_BINARY_DIR}/PackageTime.cmake @ONLY)

install(TARGETS tarvo-stamp RUNTIME DESTINATION bin)
# As Debian strips a packaged binary: the symbols, and the compiler's notes it never needs.
install(CODE "execute_process(COMMAND strip --remove-section=.comment --remove-section=.note
  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/tarvo-stamp\" COMMAND_ERROR_IS_FATAL ANY)")
install(FILES ${CMAKE_BINARY_DIR}/release/Tarvo.exe ${tag_certificate} DESTINATION share/tarvo)
install(FILES ${manual} DESTINATION share/man/man1)
install(FILES ${changelog} ${debian}/copyright DESTINATION share/doc/tarvo-stamp)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvo-stamp)
set(CPACK_PACKAGE_CONTACT "${TARVO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes per-user Tarvo launchers from one release, without a compiler")
set(CPACK_PACKAGE_DESCRIPTION "tarvo-stamp gives each user of a Tarvo service a Windows launcher
of their own, made in milliseconds from the one release that this
package ships: it writes the user's address into the launcher, and
their icon and name into its resources. A release signed once with
the tag certificate is tagged per download in place, so every copy
keeps the publisher's signature. It reads uploaded files as hostile
input and is safe to run from a download server.")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TARVO_HOMEPAGE}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/PackageTime.cmake)
include(CPack)
