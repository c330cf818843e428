# core/StringIds.h: the name of every numbered text that code refers to, made
# from resources/strings.inc, where such a text is written
#   CORVAN_NAMED_STRING(124, CantOpenFile, "Can't open file ")
# and becomes kIdsCantOpenFile = 124. Made when CMake runs, which it does
# again whenever strings.inc changes; the header is only rewritten when a
# name or an id changed, so editing a text rebuilds nothing else.
set(CORVAN_STRINGS_FILE ${CMAKE_SOURCE_DIR}/resources/strings.inc)
set(CORVAN_GENERATED_INCLUDE ${CMAKE_BINARY_DIR}/generated)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CORVAN_STRINGS_FILE})

file(STRINGS ${CORVAN_STRINGS_FILE} _corvan_string_lines REGEX "^CORVAN_NAMED_STRING\\(")
set(_corvan_string_ids "")
foreach(_line IN LISTS _corvan_string_lines)
  # A text holding ';' splits its line into several list items: only the
  # first carries the id and the name.
  if(_line MATCHES "^CORVAN_NAMED_STRING\\(([0-9]+), ([A-Za-z][A-Za-z0-9]*), \"")
    string(APPEND _corvan_string_ids "inline constexpr unsigned kIds${CMAKE_MATCH_2} = ${CMAKE_MATCH_1};\n")
  elseif(_line MATCHES "^CORVAN_NAMED_STRING\\(")
    message(FATAL_ERROR "strings.inc: a named text is written CORVAN_NAMED_STRING(id, Name, \"text\"): ${_line}")
  endif()
endforeach()
file(CONFIGURE OUTPUT ${CORVAN_GENERATED_INCLUDE}/core/StringIds.h CONTENT [[
#pragma once
// Made by cmake/StringIds.cmake from resources/strings.inc: edit that file.

namespace corvan {

@_corvan_string_ids@
}  // namespace corvan
]] @ONLY)
