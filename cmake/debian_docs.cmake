# The documents every Debian package carries in /usr/share/doc/<package>:
# the license as a machine-readable copyright file, made from LICENSE, and
# the changelog (cmake/debian/changelog), gzipped.

# LICENSE, after its title and copyright lines, becomes the text of the
# Expat (MIT) license paragraph: each line indented, blank lines as " .".
file(STRINGS "${PROJECT_SOURCE_DIR}/LICENSE" license_lines)
set(license_text "")
set(copyright_holder "")
foreach(line IN LISTS license_lines)
  if(line MATCHES "^Copyright \\(c\\) (.*)$")
    set(copyright_holder "${CMAKE_MATCH_1}")
  elseif(copyright_holder AND line STREQUAL "")
    string(APPEND license_text " .\n")
  elseif(copyright_holder)
    string(APPEND license_text " ${line}\n")
  endif()
endforeach()
if(NOT copyright_holder)
  message(FATAL_ERROR "LICENSE has no 'Copyright (c) ...' line")
endif()
string(REGEX REPLACE "^ \\.\n" "" license_text "${license_text}")
set(copyright_file "${PROJECT_BINARY_DIR}/debian/copyright")
file(WRITE "${copyright_file}"
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: vorlax\n"
     "Upstream-Contact: VORLAX developers <vorlax@example.invalid>\n"
     "\n"
     "Files: *\n"
     "Copyright: ${copyright_holder}\n"
     "License: Expat\n"
     "${license_text}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/LICENSE")

# A version without a Debian revision makes a native package, whose
# changelog is changelog.gz.
set(changelog "${PROJECT_BINARY_DIR}/debian/changelog")
add_custom_command(OUTPUT "${changelog}.gz"
                   COMMAND "${GZIP_PROGRAM}" -9 -n -c "${PROJECT_SOURCE_DIR}/cmake/debian/changelog" > "${changelog}.gz"
                   DEPENDS "${PROJECT_SOURCE_DIR}/cmake/debian/changelog"
                   COMMENT "Compressing the Debian changelog")
add_custom_target(debian_changelog ALL DEPENDS "${changelog}.gz")
# The README links LICENSE: there, a link to the copyright file, which holds its text.
file(CREATE_LINK copyright "${PROJECT_BINARY_DIR}/debian/LICENSE" SYMBOLIC)
install(FILES "${copyright_file}" "${changelog}.gz" "${PROJECT_BINARY_DIR}/debian/LICENSE"
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT vorlax)
install(FILES "${copyright_file}" "${changelog}.gz" DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vorlax-tools
        COMPONENT tools)
if(TARGET vorlax-mpi)
  install(FILES "${copyright_file}" "${changelog}.gz" DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vorlax-mpi
          COMPONENT mpi EXCLUDE_FROM_ALL)
endif()
