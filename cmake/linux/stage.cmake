# Run by cpack on the files it is about to package. In a .deb the copyright
# file carries the licence (Debian's tools flag a second copy); the tarball
# keeps LICENSE beside it.
if(CPACK_GENERATOR STREQUAL "DEB")
  file(GLOB licence "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/doc/kestrel/LICENSE"
                    "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/share/doc/kestrel/LICENSE")
  if(NOT licence)
    message(FATAL_ERROR "no LICENSE in ${CPACK_TEMPORARY_INSTALL_DIRECTORY} to leave out")
  endif()
  file(REMOVE ${licence})
endif()
