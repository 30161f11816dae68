# Run by cpack once it has made a generator's packages. cpack writes the
# debug symbols package's md5sums with the build folder's absolute paths,
# which no installed file has (dpkg --verify and debsums fail), and gives it
# no copyright file. It is made again here from its own contents, with
# md5sums as dpkg writes them and its documents folder a link to kestrel's,
# as Debian's debug symbols packages have it: it depends on kestrel of the
# same version, whose copyright covers it. objcopy leaves the debug files
# executable; they are data, and get a data file's mode.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "/([^/_]+)-dbgsym_[^/]*\\.ddeb$")
    continue()
  endif()
  set(name ${CMAKE_MATCH_1})
  set(root ${CPACK_TOPLEVEL_DIRECTORY}/dbgsym-root)
  file(REMOVE_RECURSE ${root})
  execute_process(COMMAND dpkg-deb --raw-extract ${package} ${root} COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${root} ${root}/usr/*)
  list(SORT files)
  set(md5sums "")
  foreach(file IN LISTS files)
    file(CHMOD ${root}/${file} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(MD5 ${root}/${file} sum)
    string(APPEND md5sums "${sum}  ${file}\n")
  endforeach()
  file(WRITE ${root}/DEBIAN/md5sums "${md5sums}")
  file(MAKE_DIRECTORY ${root}/usr/share/doc)
  file(CREATE_LINK ${name} ${root}/usr/share/doc/${name}-dbgsym SYMBOLIC)
  execute_process(COMMAND dpkg-deb --root-owner-group --build ${root} ${package}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${root})
endforeach()
