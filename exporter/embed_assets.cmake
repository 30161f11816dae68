# Writes the page's files into a C++ source, so that the exporter serves
# them with nothing to install beside it. Run by the build:
#   cmake -DOUTPUT=page_assets.cpp -DASSETS="path|file;..." -P embed_assets.cmake
# The content type follows from the file's extension.
# A trailing source-map comment is dropped: the map is not served.
set(arrays "")
set(table "")
set(number 0)
foreach(asset IN LISTS ASSETS)
  string(REPLACE "|" ";" fields "${asset}")
  list(GET fields 0 path)
  list(GET fields 1 file)
  get_filename_component(extension "${file}" LAST_EXT)
  if(extension STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(extension STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(extension STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  elseif(extension STREQUAL ".svg")
    set(type "image/svg+xml")
  else()
    message(FATAL_ERROR "no content type for ${file}")
  endif()
  file(READ "${file}" text)
  string(REGEX REPLACE "\n?(//# sourceMappingURL=[^\n]*|/\\*# sourceMappingURL=[^\n]*\\*/)\n?$" "\n" text "${text}")
  file(WRITE "${OUTPUT}.part" "${text}")
  file(READ "${OUTPUT}.part" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND arrays "const char kAsset${number}[] = {\n${bytes}};\n")
  string(APPEND table "    {\"${path}\", \"${type}\", {kAsset${number}, ${size}}},\n")
  math(EXPR number "${number} + 1")
endforeach()
file(REMOVE "${OUTPUT}.part")
file(WRITE "${OUTPUT}.new" "// Made by embed_assets.cmake from the page's files: do not edit.
#include \"assets.h\"

namespace exporter {
namespace {

${arrays}
}  // namespace

extern const Asset kAssets[] = {
${table}};
extern const size_t kAssetCount = ${number};

}  // namespace exporter
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
