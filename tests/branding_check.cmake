# Checks TARVO_ICON and TARVO_NAME (given with -D) as a configure does and writes what the
# resource script takes from them into OUT; a refused value stops in the checks themselves.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/Branding.cmake)
tarvo_write_branding("${OUT}")
file(READ "${OUT}/branding.h" header)
message(STATUS "branding: ${header}")
