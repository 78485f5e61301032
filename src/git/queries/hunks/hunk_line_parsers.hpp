// The two parsers of git's unified diff that no other grammar shares: a hunk header's
// range and the rest of one hunk line.
#pragma once
#include <optional>
#include <string_view>
#include <utility>

#include "model/hunk.hpp"
#include "parser/input.hpp"

namespace brackwen {

// One side of "@@ -12,5 +13 @@": "12,5" or "13" after its sign; a missing length is 1.
std::optional<LineRange> hunk_range(Input& in);

// The text up to the next "\n" or "\r\n", and that line end ("" at the end of the input), both
// views into the input's text. Never fails; a lone "\r" stays in the text.
std::optional<std::pair<std::string_view, std::string_view>> hunk_line_text(Input& in);

}  // namespace brackwen
