# What `cmake --install` puts in place, and the packages CPack makes of it:
# a .deb on Linux (the tools need python3, matplotlib and numpy), a .zip on Windows.
include(GNUInstallDirs)

if(WIN32)
  # The .zip: vorlax.exe, vorlax-read.exe, the README and the license side by side.
  install(TARGETS vorlax vorlax-read RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
else()
  install(TARGETS vorlax vorlax-read RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # vorlax-mpi needs the MPI libraries: installed on request only
  # (cmake --install build --component mpi), so that the package of vorlax
  # does not depend on MPI.
  if(TARGET vorlax-mpi)
    install(TARGETS vorlax-mpi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT mpi EXCLUDE_FROM_ALL)
  endif()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The tools look for their modules in ../share/vorlax beside their folder.
  install(PROGRAMS tools/vorlax-plot tools/vorlax-sweep tools/vorlax-fill DESTINATION ${CMAKE_INSTALL_BINDIR})
  file(GLOB VORLAX_TOOL_MODULES ${PROJECT_SOURCE_DIR}/tools/vorlax_*.py)
  install(FILES ${VORLAX_TOOL_MODULES} DESTINATION ${CMAKE_INSTALL_DATADIR}/vorlax)
  include(cmake/man_pages.cmake)
  include(cmake/debian_docs.cmake)
endif()

set(CPACK_PACKAGE_NAME vorlax)
set(CPACK_PACKAGE_VENDOR "VORLAX")
set(CPACK_PACKAGE_CONTACT "VORLAX developers <vorlax@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "vorlax-${PROJECT_VERSION}-win32")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, python3-matplotlib, python3-numpy")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "vorlax starts writer threads that each fill a test file block by block,
buffered or unbuffered, and prints the MB/s once a second. vorlax-read
reads the files back at the same settings, timing the reads and checking
every block. vorlax-plot draws saved runs; vorlax-sweep runs a matrix of
settings and tabulates it; vorlax-fill writes a disk's free space and
reports the phases of the write speed, such as the size of its fast cache.")
endif()
include(CPack)
