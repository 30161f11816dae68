# Run by cpack on the files it is about to package. In Program Files the
# sample configuration is kestrel.cfg.sample: a kestrel.cfg there is the
# user's, which the uninstaller must leave alone.
if(CPACK_GENERATOR STREQUAL "NSIS")
  file(RENAME "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/kestrel.cfg"
              "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/kestrel.cfg.sample")
endif()
