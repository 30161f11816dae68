# What a release holds, and the archive cpack makes of it.
#
#   Linux:        a .tar.gz: bin/kestrelcli, bin/kestrelhost, and
#                 lib/kestrel/kestrel.so with its sample configuration.
#   Windows i686: a .zip of what a 32-bit Windows machine runs: kestrel.dll
#                 with its sample kestrel.cfg, kestrelcli.exe, kestrelhost.exe,
#                 and in server/ the 32-bit proxy/stub DLL.
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
set(sample ${PROJECT_SOURCE_DIR}/plugin/kestrel.cfg.sample)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
    install(TARGETS kestrel kestrelcli kestrelhost RUNTIME DESTINATION . LIBRARY DESTINATION .)
    install(FILES ${sample} DESTINATION . RENAME kestrel.cfg)
    install(TARGETS kestrel_proxy RUNTIME DESTINATION server)
  else()
    set(CPACK_SYSTEM_NAME windows)
    install(TARGETS kestrelsrv kestrel_proxy RUNTIME DESTINATION server)
    install(PROGRAMS ${PROJECT_SOURCE_DIR}/server/register.cmd
                     ${PROJECT_SOURCE_DIR}/server/unregister.cmd DESTINATION server)
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
  set(CPACK_GENERATOR TGZ)
  install(TARGETS kestrelcli kestrelhost RUNTIME DESTINATION bin)
  install(TARGETS kestrel LIBRARY DESTINATION lib/kestrel)
  install(FILES ${sample} DESTINATION lib/kestrel)
endif()

function(kestrel_package_counter_library)
  if(TARGET nvpmapi)
    install(TARGETS nvpmapi RUNTIME DESTINATION server)
  endif()
endfunction()

include(CPack)
