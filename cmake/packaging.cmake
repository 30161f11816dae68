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
  endif()
else()
  set(CPACK_GENERATOR TGZ)
  install(TARGETS kestrelcli kestrelhost RUNTIME DESTINATION bin)
  install(TARGETS kestrel LIBRARY DESTINATION lib/kestrel)
  install(FILES ${sample} DESTINATION lib/kestrel)
endif()

include(CPack)
