# Runs cmake/check_layers.cmake over src/ at build time, again whenever a
# source or the table changes; vorlax_check_layers(<library>...) makes each
# library wait for it, so an include that points up fails the build.
file(GLOB_RECURSE VORLAX_LAYERED_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_SOURCE_DIR}/src/*.h ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp)
set(VORLAX_LAYERS_STAMP ${CMAKE_CURRENT_BINARY_DIR}/layers.checked)
add_custom_command(
  OUTPUT ${VORLAX_LAYERS_STAMP}
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR}/src -DSTAMP=${VORLAX_LAYERS_STAMP}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/check_layers.cmake
  DEPENDS ${VORLAX_LAYERED_SOURCES} ${CMAKE_CURRENT_SOURCE_DIR}/cmake/check_layers.cmake
  COMMENT "Checking that every include in src/ points down the layers"
  VERBATIM)
add_custom_target(vorlax_layers DEPENDS ${VORLAX_LAYERS_STAMP})

function(vorlax_check_layers)
  foreach(library IN LISTS ARGN)
    add_dependencies(${library} vorlax_layers)
  endforeach()
endfunction()
