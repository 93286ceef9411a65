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

# Called at the end of a folder of tests: fails the configure when a target
# of that folder compiles a source file of src/ itself. A test links the
# layer libraries, so it takes each part as the programs do and the check
# above holds for it too.
function(vorlax_check_test_sources)
  get_property(targets DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(sources ${target} SOURCES)
    if(NOT sources)
      continue()
    endif()
    foreach(source IN LISTS sources)
      if(source MATCHES "^\\$<")
        continue()
      endif()
      get_filename_component(path ${source} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
      string(FIND "${path}" "${PROJECT_SOURCE_DIR}/src/" at)
      if(at EQUAL 0)
        file(RELATIVE_PATH shown ${PROJECT_SOURCE_DIR} ${path})
        message(FATAL_ERROR "The test target ${target} compiles ${shown}, a source of the layers: link the "
                            "layer library that holds it instead (docs/building.md, The layers of the source).")
      endif()
    endforeach()
  endforeach()
endfunction()
