# Writes the preprocessed IDL at INPUT to OUTPUT with the interface's
# methods in virtual-table order, one to a line. The slot list gives them in
# table order, all on one line, each behind "@position".
file(READ "${INPUT}" idl)
# Every method ends with a semicolon, which CMake's lists split at.
string(ASCII 1 semicolon)
string(REPLACE ";" "${semicolon}" idl "${idl}")

string(REGEX MATCH "[^\n]*@[^\n]*\n" line "${idl}")
string(REGEX MATCHALL "@[0-9]+[^@]*" methods "${line}")
if(NOT methods)
  message(FATAL_ERROR "${INPUT}: no methods behind @position")
endif()
list(SORT methods COMPARE NATURAL)

set(ordered "")
foreach(method IN LISTS methods)
  string(REGEX REPLACE "^@[0-9]+ *" "" method "${method}")
  string(STRIP "${method}" method)
  # The macros leave spaces inside the parentheses and before commas.
  string(REGEX REPLACE " *\\( *" "(" method "${method}")
  string(REGEX REPLACE " *([,)])" "\\1" method "${method}")
  string(APPEND ordered "  ${method}\n")
endforeach()

string(REPLACE "${line}" "${ordered}" idl "${idl}")
string(REPLACE "${semicolon}" ";" idl "${idl}")
file(WRITE "${OUTPUT}" "${idl}")
