# The Python tools (tools/vorlax-plot, vorlax-sweep, vorlax-fill, vorlax-report
# and their modules), copied beside the programs in the build folder at every build, so
# that ./build/vorlax-fill works after the README's build and runs that
# build's vorlax (a tool looks beside itself first). A module added later is
# picked up at the next build.
set(VORLAX_TOOLS ${PROJECT_SOURCE_DIR}/tools/vorlax-plot ${PROJECT_SOURCE_DIR}/tools/vorlax-sweep
    ${PROJECT_SOURCE_DIR}/tools/vorlax-fill ${PROJECT_SOURCE_DIR}/tools/vorlax-report)
file(GLOB VORLAX_TOOL_MODULES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/vorlax_*.py)
set(copied "")
foreach(source ${VORLAX_TOOLS} ${VORLAX_TOOL_MODULES})
  get_filename_component(name "${source}" NAME)
  # cmake -E copy keeps the mode: the tools stay executable.
  add_custom_command(OUTPUT "${PROJECT_BINARY_DIR}/${name}"
                     COMMAND ${CMAKE_COMMAND} -E copy "${source}" "${PROJECT_BINARY_DIR}/${name}"
                     DEPENDS "${source}"
                     COMMENT "Copying ${name} beside the programs")
  list(APPEND copied "${PROJECT_BINARY_DIR}/${name}")
endforeach()
add_custom_target(tools ALL DEPENDS ${copied})
