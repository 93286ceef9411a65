# Fails when a file under SOURCE_DIR includes a header of a layer above its
# own, naming the file, the include and the rule; touches STAMP when every
# include points down or across. Run as a script:
#   cmake -DSOURCE_DIR=<folder holding the layer folders> [-DSTAMP=<file>] -P check_layers.cmake
#
cmake_minimum_required(VERSION 3.16)

# The table: each folder under SOURCE_DIR and its layer, lowest first. A file
# may include headers of its own layer and of the layers below it.
set(VORLAX_LAYERS
  platform        0
  settings        1
  test_file       1
  progress        1
  block_check     1
  monitor         1
  output          1
  latency         1
  record          1
  notes           1
  worker          2
  writer_thread   2
  reader_thread   2
  main            3
  mpi             4)
set(VORLAX_LAYER_NAMES platform core workers "drivers (main)" "drivers (mpi)")
# Headers without a folder: written by the build (version.h), for any layer.
set(VORLAX_GENERATED_HEADERS version.h)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "check_layers: give -DSOURCE_DIR=<folder holding the layer folders>")
endif()
get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)

# The layer of folder into out_var, or -1 when the table does not hold it.
function(layer_of folder out_var)
  list(FIND VORLAX_LAYERS "${folder}" at)
  if(at LESS 0)
    set(${out_var} -1 PARENT_SCOPE)
  else()
    math(EXPR at "${at} + 1")
    list(GET VORLAX_LAYERS ${at} layer)
    set(${out_var} ${layer} PARENT_SCOPE)
  endif()
endfunction()

function(layer_name layer out_var)
  list(GET VORLAX_LAYER_NAMES ${layer} name)
  set(${out_var} "${name}" PARENT_SCOPE)
endfunction()

set(problems "")
file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
if(NOT files)
  message(FATAL_ERROR "check_layers: no .h or .cpp file under ${SOURCE_DIR}; is it the right folder?")
endif()
list(SORT files)
foreach(file IN LISTS files)
  string(REGEX MATCH "^[^/]+" folder "${file}")
  layer_of("${folder}" own)
  if(own LESS 0 OR file STREQUAL folder)
    string(APPEND problems "${SOURCE_DIR}/${file}: its folder has no layer; add \"${folder}\" to the table in cmake/check_layers.cmake\n")
    continue()
  endif()
  file(STRINGS "${SOURCE_DIR}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" header "${line}")
    if(header IN_LIST VORLAX_GENERATED_HEADERS)
      continue()
    endif()
    string(REGEX MATCH "^[^/]+" target_folder "${header}")
    if(header STREQUAL target_folder)
      string(APPEND problems "${SOURCE_DIR}/${file}: #include \"${header}\" names no folder; include headers as \"folder/name.h\"\n")
      continue()
    endif()
    layer_of("${target_folder}" theirs)
    if(theirs LESS 0)
      string(APPEND problems "${SOURCE_DIR}/${file}: #include \"${header}\": folder \"${target_folder}\" has no layer; add it to the table in cmake/check_layers.cmake\n")
    elseif(theirs GREATER own)
      layer_name(${own} own_name)
      layer_name(${theirs} their_name)
      string(APPEND problems "${SOURCE_DIR}/${file}: #include \"${header}\" points up: ${folder}/ is in layer ${own_name}, ${target_folder}/ in layer ${their_name}; a file may include only its own layer and those below (see docs/building.md)\n")
    endif()
  endforeach()
endforeach()

if(problems)
  # Printed as they are, one line each, for editors that jump to file names.
  message("${problems}")
  message(FATAL_ERROR "The includes above break the layers.")
endif()
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
