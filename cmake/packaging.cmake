# What a release holds, and the archive cpack makes of it.
#
#   Linux:        a .tar.gz and a .deb: bin/kestrelcli, bin/kestrelhost,
#                 bin/kestrel-exporter with its systemd unit in
#                 lib/systemd/system, and in
#                 lib/kestrel kestrel.so with its sample configuration, the
#                 counter library over NVML (libnvpmapi.so) as the default
#                 counter library, and the simulated GPU in simulated/;
#                 the manual pages in share/man, and in share/doc/kestrel
#                 the copyright file and changelog (docs/), and LICENSE in
#                 the tarball. The programs are stripped; the .deb's
#                 debug information goes into a debug symbols package,
#                 kestrel-dbgsym_<version>_<arch>.ddeb. lintian finds
#                 nothing to warn of in the .deb, without any override.
#                 The installed programs and plug-in carry a RUNPATH to
#                 lib/kestrel, so they find the counter library there
#                 without any environment variable; LD_LIBRARY_PATH, searched
#                 first, still points them at another one. (The binaries in
#                 the build tree carry none.)
#   Windows i686: a .zip of what a 32-bit Windows machine runs: kestrel.dll
#                 with its sample kestrel.cfg, kestrelcli.exe, kestrelhost.exe,
#                 the licence as LICENSE.txt with those of the runtime
#                 linked in (licences/), and in server/ the 32-bit
#                 proxy/stub DLL.
#   Windows x64:  the same .zip with the counter server added in server/:
#                 kestrelsrv.exe, the 64-bit proxy/stub DLL and the scripts
#                 that register it. It takes the i686 build's files from
#                 KESTREL_PACKAGE_WITH (the mingw-x64 preset points it at
#                 build/mingw-x86, which is to be built first).
#                 Where makensis is found (Debian's nsis), also a setup
#                 program, kestrel-<version>-setup.exe: the same files in
#                 Program Files (the sample configuration as
#                 kestrel.cfg.sample), the server registered for the
#                 machine, the plug-in copied into the monitoring host's
#                 plug-in folder (cmake/nsis/NSIS.template.in).
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VENDOR "Kestrel")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "NVIDIA GPU performance counters for monitoring hosts")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(sample ${PROJECT_SOURCE_DIR}/plugin/kestrel.cfg.sample)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # Our licence, and in licences/ those of the MinGW-w64 runtime, its
  # threads library and GCC's runtime libraries, which the static linking
  # puts into every program and DLL; Debian's copyright files for its
  # toolchain give them in full.
  function(kestrel_install_licences)
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
    foreach(package mingw-w64-common gcc-mingw-w64-base)
      set(copyright /usr/share/doc/${package}/copyright)
      if(EXISTS ${copyright})
        install(FILES ${copyright} DESTINATION licences RENAME ${package}.txt)
      else()
        message(WARNING "${copyright} is missing: the Windows packages will lack its licences")
      endif()
    endforeach()
  endfunction()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
    install(TARGETS kestrel kestrelcli kestrelhost RUNTIME DESTINATION . LIBRARY DESTINATION .)
    install(FILES ${sample} DESTINATION . RENAME kestrel.cfg)
    install(TARGETS kestrel_proxy RUNTIME DESTINATION server)
    kestrel_install_licences()
  else()
    set(CPACK_SYSTEM_NAME windows)
    install(TARGETS kestrelsrv kestrel_proxy RUNTIME DESTINATION server)
    # The server loads the counter library by name: the one over NVML
    # lies beside it.
    install(TARGETS nvpmapi RUNTIME DESTINATION server)
    install(PROGRAMS ${PROJECT_SOURCE_DIR}/server/register.cmd
                     ${PROJECT_SOURCE_DIR}/server/unregister.cmd DESTINATION server)
    # Also where the i686 build's files are not packaged with these.
    kestrel_install_licences()
    set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};kestrel;ALL;/")
    if(KESTREL_PACKAGE_WITH)
      list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${KESTREL_PACKAGE_WITH};kestrel;ALL;/")
    endif()
    # The 64-bit counter library of our own, where the build makes one: the
    # server loads nvpmapi.dll from its own folder first. Decided once every
    # folder has defined its targets.
    cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL kestrel_package_counter_library)
    find_program(KESTREL_MAKENSIS makensis)
    if(KESTREL_MAKENSIS)
      list(APPEND CPACK_GENERATOR NSIS)
      set(CPACK_NSIS_EXECUTABLE ${KESTREL_MAKENSIS})
      set(CPACK_NSIS_PACKAGE_NAME Kestrel)
      set(CPACK_NSIS_DISPLAY_NAME "Kestrel ${PROJECT_VERSION}")
      set(CPACK_PACKAGE_INSTALL_DIRECTORY Kestrel)
      set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Kestrel)
      set(CPACK_NSIS_UNINSTALL_NAME Uninstall)
      set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
      # Our own installer script in place of cpack's.
      list(PREPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake/nsis)
      set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/nsis/per_generator.cmake)
      set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/nsis/stage.cmake)
    endif()
  endif()
else()
  set(CPACK_GENERATOR TGZ DEB)
  # The installed copies are linked apart, with their RUNPATH from the
  # start: CMake would otherwise pad the build tree's binaries with a
  # placeholder path to rewrite at install, and its empty entries would
  # mean the current folder.
  function(kestrel_installed_copy target runpath)
    get_target_property(type ${target} TYPE)
    get_target_property(folder ${target} SOURCE_DIR)
    get_target_property(sources ${target} SOURCES)
    list(TRANSFORM sources REPLACE "^([^/$].*)" "${folder}/\\1")
    if(type STREQUAL EXECUTABLE)
      add_executable(${target}_installed ${sources})
    else()
      add_library(${target}_installed MODULE ${sources})
      set_target_properties(${target}_installed PROPERTIES PREFIX "")
    endif()
    foreach(property LINK_LIBRARIES LINK_OPTIONS INCLUDE_DIRECTORIES COMPILE_DEFINITIONS
                     LINK_DEPENDS)
      get_target_property(value ${target} ${property})
      if(value)
        set_property(TARGET ${target}_installed PROPERTY ${property} "${value}")
      endif()
    endforeach()
    target_link_options(${target}_installed PRIVATE -Wl,--enable-new-dtags)
    set_target_properties(${target}_installed PROPERTIES
      OUTPUT_NAME ${target}
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/installed
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/installed
      SKIP_BUILD_RPATH OFF
      BUILD_WITH_INSTALL_RPATH ON
      INSTALL_RPATH "${runpath}")
  endfunction()
  kestrel_installed_copy(kestrelcli "$ORIGIN/../lib/kestrel")
  kestrel_installed_copy(kestrelhost "$ORIGIN/../lib/kestrel")
  kestrel_installed_copy(kestrel "$ORIGIN")
  install(TARGETS kestrelcli_installed kestrelhost_installed RUNTIME DESTINATION bin)
  if(TARGET kestrel-exporter)
    kestrel_installed_copy(kestrel-exporter "$ORIGIN/../lib/kestrel")
    install(TARGETS kestrel-exporter_installed RUNTIME DESTINATION bin)
    install(FILES ${PROJECT_SOURCE_DIR}/exporter/kestrel-exporter.service
      DESTINATION lib/systemd/system)
  endif()
  install(TARGETS kestrel_installed LIBRARY DESTINATION lib/kestrel)
  install(TARGETS nvpmapi LIBRARY DESTINATION lib/kestrel)
  install(TARGETS simulated_gpu LIBRARY DESTINATION lib/kestrel/simulated)
  install(FILES ${sample} DESTINATION lib/kestrel)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "Kestrel developers <kestrel-developers@users.noreply.github.com>")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # cpack puts CPACK_PACKAGE_DESCRIPTION_SUMMARY before this as the synopsis,
  # and indents these lines by one blank.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "kestrelcli lists and samples the GPU's counters; kestrelhost tries the kestrel
plug-in and writes its configuration; kestrel-exporter serves them to
Prometheus (a systemd unit comes with it). The counters are read through NVML,
the driver's management library (libnvidia-ml.so.1).")
  # The programs go stripped into kestrel_VERSION_ARCH.deb, their debug
  # information into kestrel-dbgsym_VERSION_ARCH.ddeb, found by build ID
  # (cmake/linux/dbgsym.cmake mends what cpack gets wrong in it).
  set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/linux/dbgsym.cmake)
  # cpack would call ldconfig from postinst and postrm for the libraries in
  # lib/kestrel, but that folder is private: the loader finds them by the
  # programs' RUNPATH, never through ld.so's cache. Naming the two scripts
  # as our own stops cpack writing them; as there are no such files, the
  # package has no maintainer scripts at all.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/no-maintainer-scripts/postinst
    ${CMAKE_BINARY_DIR}/no-maintainer-scripts/postrm)
  # The tarball's programs are stripped too, and it keeps LICENSE, which
  # the .deb leaves to its copyright file (cmake/linux/per_generator.cmake,
  # cmake/linux/stage.cmake).
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/linux/per_generator.cmake)
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/linux/stage.cmake)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libnvidia-ml1 | nvidia-driver")
endif()

function(kestrel_package_counter_library)
  if(TARGET nvpmapi)
    install(TARGETS nvpmapi RUNTIME DESTINATION server)
  endif()
endfunction()

include(CPack)
