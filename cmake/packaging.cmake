# What `cmake --install` puts in place, and the packages CPack makes of it:
# on Linux three .debs, so that the C++ programs come without Python; on
# Windows the .zip.
#
#   vorlax        vorlax, vorlax-read, their man pages, README.md and docs/
#                 in /usr/share/doc/vorlax (the README's links resolve there)
#   vorlax-tools  vorlax-plot, vorlax-sweep, vorlax-fill, vorlax-report, their
#                 modules and pages; needs python3, numpy, matplotlib and vorlax
#   vorlax-mpi    vorlax-mpi and its page, when the build has it; needs Open MPI
include(GNUInstallDirs)

if(WIN32)
  # The .zip: vorlax.exe, vorlax-read.exe, the README and the license side by side.
  install(TARGETS vorlax vorlax-read RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  # Every file the README links to or shows, and those the linked pages
  # link to in turn, where the links expect them (docs\ beside it).
  set(pages_to_read README.md)
  set(linked_files)
  while(pages_to_read)
    list(POP_FRONT pages_to_read page)
    get_filename_component(page_dir "${page}" DIRECTORY)
    file(READ "${PROJECT_SOURCE_DIR}/${page}" page_text)
    # "](" marked otherwise first: a "]" in a list item keeps CMake from splitting it.
    string(REPLACE "](" "<link>" page_text "${page_text}")
    string(REGEX MATCHALL "<link>[^)#: ]+" links "${page_text}")
    foreach(link IN LISTS links)
      string(SUBSTRING "${link}" 6 -1 target)
      if(page_dir)
        set(target "${page_dir}/${target}")
      endif()
      cmake_path(NORMAL_PATH target)
      if(target MATCHES "^\\.\\./" OR target IN_LIST linked_files OR target STREQUAL "README.md" OR
         IS_DIRECTORY "${PROJECT_SOURCE_DIR}/${target}" OR NOT EXISTS "${PROJECT_SOURCE_DIR}/${target}")
        continue()
      endif()
      list(APPEND linked_files "${target}")
      if(target MATCHES "\\.md$")
        list(APPEND pages_to_read "${target}")
      endif()
    endforeach()
  endwhile()
  foreach(target IN LISTS linked_files)
    get_filename_component(target_dir "${target}" DIRECTORY)
    if(NOT target_dir)
      set(target_dir .)
    endif()
    install(FILES "${PROJECT_SOURCE_DIR}/${target}" DESTINATION "${target_dir}")
  endforeach()
else()
  install(TARGETS vorlax vorlax-read RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT vorlax)
  # vorlax-mpi needs the MPI libraries: installed on request only
  # (cmake --install build --component mpi), as a package of its own.
  if(TARGET vorlax-mpi)
    install(TARGETS vorlax-mpi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT mpi EXCLUDE_FROM_ALL)
  endif()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT vorlax)
  install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT vorlax)
  # The tools look for their modules in ../share/vorlax beside their folder.
  install(PROGRAMS ${VORLAX_TOOLS} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  install(FILES ${VORLAX_TOOL_MODULES} DESTINATION ${CMAKE_INSTALL_DATADIR}/vorlax COMPONENT tools)
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
  # The 64-bit build's package is named for it; the 32-bit one stays win32.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME "vorlax-${PROJECT_VERSION}-win64")
  else()
    set(CPACK_PACKAGE_FILE_NAME "vorlax-${PROJECT_VERSION}-win32")
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL vorlax tools)
  if(TARGET vorlax-mpi)
    list(APPEND CPACK_COMPONENTS_ALL mpi)
  endif()
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_options.cmake)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # Each package's libraries, Open MPI's among them, from dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_VORLAX_PACKAGE_NAME vorlax)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME vorlax-tools)
  set(CPACK_DEBIAN_MPI_PACKAGE_NAME vorlax-mpi)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_ARCHITECTURE all)
  set(vorlax_exact "vorlax (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "python3, python3-matplotlib, python3-numpy, ${vorlax_exact}")
  # mpirun comes with openmpi-bin; under Slurm, srun starts the ranks instead.
  set(CPACK_DEBIAN_MPI_PACKAGE_DEPENDS "${vorlax_exact}")
  set(CPACK_DEBIAN_MPI_PACKAGE_RECOMMENDS "openmpi-bin")
  set(CPACK_DEBIAN_VORLAX_DESCRIPTION "${PROJECT_DESCRIPTION}
vorlax starts writer threads that each fill a test file block by block,
buffered or unbuffered, and prints the MB/s once a second. vorlax-read
reads the files back at the same settings, timing the reads and checking
every block.")
  set(CPACK_DEBIAN_TOOLS_DESCRIPTION "Charts, sweeps and disk fills for vorlax
vorlax-plot draws saved vorlax runs; vorlax-sweep runs a matrix of settings
and tabulates it; vorlax-fill writes a disk's free space and reports the
phases of the write speed, such as the size of its fast cache; vorlax-report
turns their records into one self-contained HTML page.")
  set(CPACK_DEBIAN_MPI_DESCRIPTION "Sequential write speed of many hosts at once, under MPI
vorlax-mpi runs vorlax's writers on every rank of an MPI job, started by
mpirun or by Slurm's srun, and prints one progress line a second over all
ranks and a summary of each rank's host and speed.")
endif()
include(CPack)
