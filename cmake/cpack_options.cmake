# Read by cpack for each generator. A .deb's synopsis is the first line of
# its own description (CPACK_DEBIAN_<COMPONENT>_DESCRIPTION): CPackDeb puts
# the project's summary before it unless the summary is CPack's default.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CPACK_DEFAULT_PACKAGE_DESCRIPTION_SUMMARY}")
endif()
