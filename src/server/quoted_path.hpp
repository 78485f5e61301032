// The quoted form in which diagnostic lines show a file path, whatever bytes it holds.
#pragma once
#include <string>
#include <string_view>

namespace brackwen {

// The path in double quotes; backslash, double and single quote escaped with a backslash;
// tab, line feed and carriage return as \t \n \r; other unprintable or combining characters
// as \u{hex}; bytes that are not UTF-8 as \xHH.
std::string quoted_path(std::string_view path);

}  // namespace brackwen
