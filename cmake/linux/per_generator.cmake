# Read by cpack for each package it makes. The .deb strips its programs
# itself, keeping their debug information for the debug symbols package;
# the tarball has them stripped as they are installed.
if(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_STRIP_FILES ON)
endif()
