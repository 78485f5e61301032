# Writes the media types of static files as a C++ header, from the table of the mime_guess
# crate (src/mime_types.rs): each extension, in lower case, with the first type listed for it,
# sorted by extension. Run at build time:
#   cmake -DSOURCE=<mime_types.rs> -DOUTPUT=<header> -P media_type_table.cmake
file(READ "${SOURCE}" text)
# The comments quote entries as examples. A "[" would hold list items together in CMake.
string(REGEX REPLACE "//[^\n]*" "" text "${text}")
string(REPLACE "[" "<" text "${text}")
set(space "[ \t\r\n]*")
string(REGEX MATCHALL "\\(${space}\"[A-Za-z0-9._+-]+\"${space},${space}&<${space}\"[A-Za-z0-9._+/-]+\""
  entries "${text}")
# Every list of types, so that an entry the pattern above missed is noticed.
string(REGEX MATCHALL "&<${space}\"" lists "${text}")
list(LENGTH entries count)
list(LENGTH lists expected)
if(count EQUAL 0 OR NOT count EQUAL expected)
  message(FATAL_ERROR "${SOURCE}: read ${count} of ${expected} entries")
endif()
set(rows "")
foreach(entry IN LISTS entries)
  string(REGEX MATCH "\"([^\"]+)\"[^\"]*\"([^\"]+)\"" pair "${entry}")
  string(TOLOWER "${CMAKE_MATCH_1}" extension)
  # A space sorts before every character of an extension.
  list(APPEND rows "${extension} ${CMAKE_MATCH_2}")
endforeach()
list(SORT rows)
set(body "")
foreach(row IN LISTS rows)
  string(REPLACE " " "\", \"" row "${row}")
  string(APPEND body "    {\"${row}\"},\n")
endforeach()
file(WRITE "${OUTPUT}.new" "// Generated from ${SOURCE} by cmake/media_type_table.cmake.
#pragma once
#include <string_view>
#include <utility>

namespace brackwen {

// Extension (lower case) -> the first media type the table lists for it, sorted by extension.
inline constexpr std::pair<std::string_view, std::string_view> MEDIA_TYPE_TABLE[] = {
${body}};

}  // namespace brackwen
")
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
