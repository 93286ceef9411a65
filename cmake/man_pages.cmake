# The manual pages: every man/*.1, a page added later included, gets the
# version from project() in place of @PROJECT_VERSION@ (so the pages and
# --version always agree), is gzipped as Debian wants, and is installed with
# its program: a page named like a tool in tools/ goes with the tools,
# vorlax-mpi's with vorlax-mpi (and only when the build has it), the rest
# with vorlax.
find_program(GZIP_PROGRAM gzip)
if(NOT GZIP_PROGRAM)
  message(FATAL_ERROR "gzip not found: it compresses the man pages (Debian package gzip)")
endif()
file(GLOB VORLAX_MAN_SOURCES CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/man/*.1")
set(VORLAX_MAN_PAGES "")
foreach(source ${VORLAX_MAN_SOURCES})
  get_filename_component(page "${source}" NAME)
  get_filename_component(program "${source}" NAME_WE)
  set(configured "${PROJECT_BINARY_DIR}/man/${page}")
  configure_file("${source}" "${configured}" @ONLY)
  # -n leaves out the name and time stamp, so the same page gives the same bytes.
  add_custom_command(OUTPUT "${configured}.gz"
                     COMMAND "${GZIP_PROGRAM}" -9 -n -c "${configured}" > "${configured}.gz"
                     DEPENDS "${configured}"
                     COMMENT "Compressing man page ${page}")
  list(APPEND VORLAX_MAN_PAGES "${configured}.gz")
  if(program STREQUAL "vorlax-mpi")
    if(TARGET vorlax-mpi)
      install(FILES "${configured}.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT mpi EXCLUDE_FROM_ALL)
    endif()
  elseif(EXISTS "${PROJECT_SOURCE_DIR}/tools/${program}")
    install(FILES "${configured}.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  else()
    install(FILES "${configured}.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT vorlax)
  endif()
endforeach()
add_custom_target(man_pages ALL DEPENDS ${VORLAX_MAN_PAGES})
