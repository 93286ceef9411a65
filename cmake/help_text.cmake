# vorlax_help_text(<target> <symbol> <file>): compiles the plain text of
# <file> (relative to the source folder) into <target> as
#   extern const char <symbol>[];
# so that each program's --help is written as text beside its record, not as
# C++ string literals. CMake runs again when the file changes.
function(vorlax_help_text target symbol text_file)
  set(source "${PROJECT_SOURCE_DIR}/${text_file}")
  file(READ "${source}" VORLAX_HELP_TEXT)
  # The same text whatever line ends the checkout gave the file.
  string(REPLACE "\r" "" VORLAX_HELP_TEXT "${VORLAX_HELP_TEXT}")
  if(VORLAX_HELP_TEXT MATCHES "\\)vorlax_help")
    message(FATAL_ERROR "${text_file} holds \")vorlax_help\", which would end its text early")
  endif()
  set(VORLAX_HELP_SYMBOL ${symbol})
  set(VORLAX_HELP_SOURCE ${text_file})
  set(generated "${PROJECT_BINARY_DIR}/generated/${symbol}.cpp")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/help_text.cpp.in" "${generated}" @ONLY)
  set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
  target_sources(${target} PRIVATE "${generated}")
endfunction()
