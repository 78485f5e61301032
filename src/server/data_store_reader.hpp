// Reading the data-store file: one JSON object of string values. Unlike a request body, a
// broken file is shown to the user, so a failure says what went wrong and at which line and
// column, in the words the front end has always shown.
#pragma once
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>

namespace brackwen {

// The store, or a description such as "trailing characters at line 1 column 10" (lines from
// 1, columns counted in bytes). A key given twice keeps its later value.
std::variant<std::unordered_map<std::string, std::string>, std::string> read_data_store_text(
    std::string_view text);

}  // namespace brackwen
