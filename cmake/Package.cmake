# The service's Debian package, tarvo-stamp_VERSION_amd64.deb: tarvo-stamp in bin, and in
# share/tarvo the release Tarvo.exe it stamps (the placeholder build, cross-built here by the
# project's own toolchain file, with nothing beside it) and the tag certificate to sign the
# release with. dpkg-shlibdeps names the libraries.
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
add_custom_target(tag_certificate ALL DEPENDS ${tag_certificate})

install(TARGETS tarvo-stamp RUNTIME DESTINATION bin)
install(FILES ${CMAKE_BINARY_DIR}/release/Tarvo.exe ${tag_certificate} DESTINATION share/tarvo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvo-stamp)
set(CPACK_PACKAGE_CONTACT "Tarvo maintainers <maintainers@tarvo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Makes per-user Tarvo launchers from one release, without a compiler")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
