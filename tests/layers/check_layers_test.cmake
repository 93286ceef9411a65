# Runs cmake/check_layers.cmake on small fixtures and on src/ itself:
#   cmake -DCHECK=<check_layers.cmake> -DFIXTURES=<tests/layers> -DSOURCE=<src> -P check_layers_test.cmake
# A fixture with an upward include must fail with a line naming the file,
# the include and the rule; one whose includes point across or down passes.
cmake_minimum_required(VERSION 3.16)

# Runs the check on folder; expect_failure TRUE or FALSE; every further
# argument is a piece of text its output must hold.
function(expect_check folder expect_failure)
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${folder} -P ${CHECK}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(text "${out}${err}")
  if(expect_failure AND status EQUAL 0)
    message(FATAL_ERROR "the check passed ${folder}, which it must refuse:\n${text}")
  elseif(NOT expect_failure AND NOT status EQUAL 0)
    message(FATAL_ERROR "the check refused ${folder}, which it must pass:\n${text}")
  endif()
  foreach(piece IN LISTS ARGN)
    string(FIND "${text}" "${piece}" at)
    if(at LESS 0)
      message(FATAL_ERROR "the check on ${folder} did not say \"${piece}\":\n${text}")
    endif()
  endforeach()
endfunction()

expect_check(${FIXTURES}/upward TRUE
             "settings/reads_driver.cpp: #include \"main/driver.h\" points up"
             "settings/ is in layer core, main/ in layer drivers (main)")
expect_check(${FIXTURES}/across FALSE)
expect_check(${FIXTURES}/unknown TRUE "extras/extra.cpp: its folder has no layer")
expect_check(${SOURCE} FALSE)
