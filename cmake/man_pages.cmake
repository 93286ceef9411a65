# The manual pages: every man/*.1, a page added later included, gets the
# version from project() in place of @PROJECT_VERSION@ (so the pages and
# --version always agree), is gzipped as Debian wants, and is installed.
find_program(GZIP_PROGRAM gzip)
if(NOT GZIP_PROGRAM)
  message(FATAL_ERROR "gzip not found: it compresses the man pages (Debian package gzip)")
endif()
file(GLOB VORLAX_MAN_SOURCES CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/man/*.1")
set(VORLAX_MAN_PAGES "")
foreach(source ${VORLAX_MAN_SOURCES})
  get_filename_component(page "${source}" NAME)
  set(configured "${PROJECT_BINARY_DIR}/man/${page}")
  configure_file("${source}" "${configured}" @ONLY)
  # -n leaves out the name and time stamp, so the same page gives the same bytes.
  add_custom_command(OUTPUT "${configured}.gz"
                     COMMAND "${GZIP_PROGRAM}" -9 -n -c "${configured}" > "${configured}.gz"
                     DEPENDS "${configured}"
                     COMMENT "Compressing man page ${page}")
  list(APPEND VORLAX_MAN_PAGES "${configured}.gz")
endforeach()
add_custom_target(man_pages ALL DEPENDS ${VORLAX_MAN_PAGES})
install(FILES ${VORLAX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
